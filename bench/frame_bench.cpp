// The whole frame: a full pool of 5000 boxes, half of them rotated, drawn,
// swapped and finished (glFinish) at 1280x720, by the engine (OpenGL ES 1.1,
// one batch) and by SDL2's own batched renderer (its OpenGL ES 2 back end)
// drawing the same sprites from the same atlas. Both run on Mesa through
// SDL's offscreen video driver, so no display is needed. Prints both frame
// times and their ratio at the end.
#include "drawboxlib/drawboxlib.h"
#include "out.h"

#include <SDL.h>
#include <GLES/gl.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int width = 1280, height = 720;    // the window
constexpr int logical_w = 640, logical_h = 360;  // what the intro draws in
constexpr int frames_in_atlas = sizeof tileset / sizeof tileset[0];

SDL_Window *engine_window;
SDL_GLContext engine_context;

// One sprite of the scene: the same numbers feed both renderers.
struct sprite {
    int frame, x, y;
    float scale, rotation;
};
sprite scene[DBX_MAX_DRAWBOXES];

void make_scene(void) {
    for (int i = 0; i < DBX_MAX_DRAWBOXES; i++) {
        sprite &s = scene[i];
        s.frame = i % frames_in_atlas;
        s.x = (i * 37) % logical_w - 40;
        s.y = (i * 53) % logical_h - 40;
        s.scale = 0.03125f * static_cast<float>(i % 3 + 1);  // from 1/32 to 3/32 of the art's size
        s.rotation = i % 2 ? static_cast<float>((i * 7) % 359 + 1) : 0.0f;
    }
}

double ms_per_frame[2];  // engine, SDL2

void record(benchmark::State &state, int which, std::chrono::steady_clock::duration spent) {
    ms_per_frame[which] = std::chrono::duration<double, std::milli>(spent).count() /
                          static_cast<double>(state.iterations());
    state.counters["boxes"] = DBX_MAX_DRAWBOXES;
}

// ---------------------------------------------------------------- the engine

void engine_frame(benchmark::State &state) {
    static bool ready = false;
    if (!ready) {
        dbx_fixed_width = logical_w;
        dbx_fixed_height = logical_h;
        dbx_alphamode = 1;
        dbx_init();
        const int set = dbx_loadframeset("out.png", nullptr, 0, tileset, frames_in_atlas);
        if (set < 0 || dbx_frames < static_cast<uint32_t>(frames_in_atlas)) {
            state.SkipWithError("cannot load out.png");
            return;
        }
        for (const sprite &s : scene) {
            dbx_drawbox_t *b = dbx_drawbox_create();
            b->visible = 1;
            b->frame = static_cast<uint32_t>(s.frame);
            b->x1 = s.x;
            b->y1 = s.y;
            b->scale = s.scale;
            b->rotation = s.rotation;
        }
        ready = true;
    }
    SDL_GL_MakeCurrent(engine_window, engine_context);
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        dbx_clear(0, 0, 0, 255);
        dbx_render_to_screen();
        glFinish();
    }
    record(state, 0, std::chrono::steady_clock::now() - began);
}

// ---------------------------------------------------------------- SDL2's renderer

void sdl_frame(benchmark::State &state) {
    static SDL_Renderer *renderer;
    static SDL_Texture *atlas;
    static void (*finish)(void);
    if (!renderer) {
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengles2");
        SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
        SDL_GL_ResetAttributes();
        SDL_Window *window = SDL_CreateWindow("SDL2", 0, 0, width, height, SDL_WINDOW_OPENGL);
        renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED) : nullptr;
        SDL_RendererInfo info;
        if (!renderer || SDL_GetRendererInfo(renderer, &info) != 0 || SDL_strcmp(info.name, "opengles2") != 0) {
            state.SkipWithError("SDL2 has no opengles2 renderer here");
            return;
        }
        SDL_RenderSetLogicalSize(renderer, logical_w, logical_h);
        dbx_image_t *image = dbx_loadpng("out.png", nullptr, 0);
        if (!image) {
            state.SkipWithError("cannot load out.png");
            return;
        }
        atlas = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC,
                                  static_cast<int>(image->width), static_cast<int>(image->height));
        SDL_UpdateTexture(atlas, nullptr, dbx_image_pixels(image), static_cast<int>(image->width * 4));
        free(image);
        // Blended and filtered as the engine draws its atlas.
        SDL_SetTextureBlendMode(atlas, SDL_BLENDMODE_BLEND);
        SDL_SetTextureScaleMode(atlas, SDL_ScaleModeLinear);
        finish = reinterpret_cast<void (*)(void)>(SDL_GL_GetProcAddress("glFinish"));
    }
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        for (const sprite &s : scene) {
            const dbx_frame_t &f = tileset[s.frame];
            const SDL_Rect from = {static_cast<int>(f.x1), static_cast<int>(f.y1), static_cast<int>(f.width),
                                   static_cast<int>(f.height)};
            const SDL_FRect to = {static_cast<float>(s.x) + static_cast<float>(f.xoffset) * s.scale,
                                  static_cast<float>(s.y) + static_cast<float>(f.yoffset) * s.scale,
                                  static_cast<float>(f.width) * s.scale, static_cast<float>(f.height) * s.scale};
            if (s.rotation == 0.0f)
                SDL_RenderCopyF(renderer, atlas, &from, &to);
            else
                SDL_RenderCopyExF(renderer, atlas, &from, &to, s.rotation, nullptr, SDL_FLIP_NONE);
        }
        SDL_RenderPresent(renderer);
        finish();
    }
    record(state, 1, std::chrono::steady_clock::now() - began);
}

BENCHMARK(engine_frame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(sdl_frame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

// The engine's platform: an SDL window with an OpenGL ES 1.1 context, the
// swap SDL's, without the desktop layer's pacing.
void dbx_platform_init_window(void) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    engine_window = SDL_CreateWindow("engine", 0, 0, width, height, SDL_WINDOW_OPENGL);
    engine_context = engine_window ? SDL_GL_CreateContext(engine_window) : nullptr;
    if (!engine_context) {
        fprintf(stderr, "frame_bench: no OpenGL ES 1.1 context: %s\n", SDL_GetError());
        exit(1);
    }
    SDL_GL_SetSwapInterval(0);
    dbx_screen_width = width;
    dbx_screen_height = height;
}
void dbx_platform_swapbuffers(void) { SDL_GL_SwapWindow(engine_window); }
void dbx_platform_poll_input(void) {}

int main(int argc, char **argv) {
    if (chdir(REPO_ROOT) != 0 || access("out.png", R_OK) != 0) {
        fputs("frame_bench: needs the intro's out.png in " REPO_ROOT "\n", stderr);
        return 1;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "frame_bench: SDL's offscreen video driver: %s\n", SDL_GetError());
        return 1;
    }
    make_scene();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (ms_per_frame[0] > 0 && ms_per_frame[1] > 0)
        printf("5000 boxes at %dx%d: engine %.2f ms a frame, SDL2 (opengles2, batched) %.2f ms: SDL2 / engine = %.2f\n",
               width, height, ms_per_frame[0], ms_per_frame[1], ms_per_frame[1] / ms_per_frame[0]);
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
