#pragma once

#include <QString>

// libmpv, loaded when the program asks for it rather than before main():
// with its codecs and their libraries it is some two hundred shared objects,
// about as long to load as the rest of the start-up. The program starts the
// load on a helper thread once its start-up box is on screen, and the box
// waits for the user meanwhile.
//
// The libmpv functions the component calls (mpv_create and the rest of
// <mpv/client.h> and <mpv/render.h> that it uses) are defined here and
// forward to the loaded library; the first of them to be called waits for the
// load, or starts it. Without the library they fail as libmpv itself fails
// (mpv_create returns null), and Error() says why.
namespace mpv_library {

// Starts loading libmpv on a helper thread, once; returns at once.
void Preload();

// Waits for the load and tells whether libmpv is usable.
bool Available();

// Why libmpv could not be used; empty when it can.
QString Error();

}  // namespace mpv_library
