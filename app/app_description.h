#pragma once

// The program's fixed description. The Windows version block in
// tibrok-flv-player.rc carries the same values; a test keeps them in step.
namespace app {

inline constexpr char kProjectName[] = "DazizaDizIrozer";
// Captions every message box; the main window's caption differs in case.
inline constexpr char kTitle[] = "Tibrok flv player";
inline constexpr char kDescription[] = "Tibrok flv player";
inline constexpr char kCompanyName[] = "ZoriruVozuvozuzero";
inline constexpr char kProductName[] = "Tibrok flv player";
inline constexpr char kFileVersion[] = "1.00";
inline constexpr char kProductVersion[] = "1.00";
inline constexpr char kInternalName[] = "Tibrok flv player";
inline constexpr char kOriginalFilename[] = "Tibrok flv player.exe";
inline constexpr char kExecutableName[] = "tibrok-flv-player";
inline constexpr int kLocale = 0x0409;
inline constexpr int kCodePage = 0x04B0;

}  // namespace app
