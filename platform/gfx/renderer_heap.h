#pragma once
// Process-wide allocator policy for programs that draw through the software renderer.
//
// The software renderer stores a record of some 30 KB for every change of the
// fragment state between draws and frees the frame's memory once drawn; with the
// default trim threshold the heap goes back to the system each frame and every
// record costs fresh pages in the next. A program calls this once at start-up to
// keep the heap instead (up to 64 MB held back).
void KeepRendererHeap();
