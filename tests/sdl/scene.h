// A fixed scene that the SDL layer and the Pi layer both draw: an atlas made
// on the spot and boxes that are scaled, rotated, blended over each other
// and cut by the edges of the logical area.
#ifndef SDL_TEST_SCENE_H
#define SDL_TEST_SCENE_H

// The logical resolution the scene is drawn at.
enum { SCENE_WIDTH = 640, SCENE_HEIGHT = 360 };

// After dbx_init: loads the atlas and creates the boxes.
void scene_load(void);

// One frame: the clear and the renderer, which ends with the buffer swap.
void scene_draw(void);

// From a reset engine, opens the platform's window of that size at the
// scene's resolution, loads the scene and draws one frame of it.
void scene_show(int window_width, int window_height);

#endif
