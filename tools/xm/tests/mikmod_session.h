// libmikmod set up once per test process the way the intro sets it up
// (software music mixing, every other mode bit at its default), but with the
// no-sound driver, so the tests mix into memory with VC_WriteBytes.
#pragma once

#include <mikmod.h>

#include <cstdint>
#include <vector>

constexpr unsigned test_mix_rate = 48000;

// True once libmikmod is ready; initialises it on the first call.
inline bool mikmod_session() {
    static const bool ready = [] {
        MikMod_RegisterDriver(&drv_nos);
        MikMod_RegisterAllLoaders();
        md_mode |= DMODE_SOFT_MUSIC;
        md_mixfreq = test_mix_rate;
        return MikMod_Init("") == 0;
    }();
    return ready;
}

// Loads a module from memory; the caller frees it with Player_Free.
inline MODULE* mikmod_load(const std::vector<uint8_t>& bytes) {
    return Player_LoadMem(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 64, 0);
}
