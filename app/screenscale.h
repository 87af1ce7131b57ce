#ifndef ZELVIK_SCREENSCALE_H
#define ZELVIK_SCREENSCALE_H

// The form places every widget at fixed coordinates drawn for a 96 dpi screen. On a denser screen
// (a 4K laptop at 150 %) the fonts grow with the screen's resolution but the widgets would not, and
// captions would be cut. The window is therefore scaled as a whole by the screen's resolution over
// 96 dpi, unrounded (1.25 at 120 dpi, 1.5 at 144 dpi), so the form keeps its proportions at any
// setting. Must be called before the application object is made.
void scaleWithScreen();

// The windows hold no OpenGL widget. Without this each would get an OpenGL-capable visual, which
// loads the GL driver before the window shows (with Mesa's software driver and LLVM: some 90 ms
// and 50 MB). Must be called before the application object is made.
void drawWithoutOpenGL();

#endif
