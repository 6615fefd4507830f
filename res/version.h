/* The updater's version, written once: read by the resource script and by CMake. */
#define UPDATER_VERSION_MAJOR 1
#define UPDATER_VERSION_MINOR 0
#define UPDATER_VERSION_PATCH 0
#define UPDATER_VERSION_BUILD 2
#define UPDATER_VERSION_TEXT "1.0.0.2"
