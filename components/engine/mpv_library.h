#pragma once

#include <QString>

// libmpv, loaded when the program asks for it rather than before main():
// with its codecs and their libraries it is some two hundred shared objects,
// about as long to load as the rest of the start-up. The program loads it
// once its start-up box is on screen: the box waits for the user anyway.
//
// The libmpv functions the component calls (mpv_create and the rest of
// <mpv/client.h> and <mpv/render.h> that it uses) are defined here and
// forward to the library, which the first of them loads if Preload() has not. Without the library
// they fail as libmpv itself fails (mpv_create returns null), and Error() says why.
namespace mpv_library {

// Loads libmpv now, on the calling thread, unless it is loaded already.
void Preload();

// Whether libmpv is usable (loading it first if need be).
bool Available();

// Why libmpv could not be used; empty when it can.
QString Error();

}  // namespace mpv_library
