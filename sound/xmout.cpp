// The sound outputs a live song is played through, in the order they are
// tried. One this build lacks (its library was not found, or it belongs to
// another platform) is a null entry, passed over.
#include "sound/xmout.h"

#ifdef DBX_NO_PULSE
const xm_output *const xm_pulse_output = nullptr;
#endif
#ifdef DBX_NO_ALSA
const xm_output *const xm_alsa_output = nullptr;
#endif
#ifndef DBX_WEB_AUDIO
const xm_output *const xm_web_output = nullptr;
#endif
const xm_output *xm_outputs[4] = {xm_pulse_output, xm_alsa_output, xm_web_output, nullptr};
