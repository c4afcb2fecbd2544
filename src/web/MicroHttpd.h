#pragma once

#include <microhttpd.h>

// The parts of libmicrohttpd the HTTP server uses. The library is loaded when
// a server first starts rather than linked: it brings GnuTLS and its own
// dependencies, which a station whose metrics are off never uses and every
// start of the service would otherwise load.
struct MicroHttpd {
    decltype(&MHD_start_daemon) startDaemon = nullptr;
    decltype(&MHD_stop_daemon) stopDaemon = nullptr;
    decltype(&MHD_get_daemon_info) daemonInfo = nullptr;
    decltype(&MHD_get_connection_values) connectionValues = nullptr;
    decltype(&MHD_create_response_from_buffer) responseFromBuffer = nullptr;
    decltype(&MHD_add_response_header) addResponseHeader = nullptr;
    decltype(&MHD_queue_response) queueResponse = nullptr;
    decltype(&MHD_destroy_response) destroyResponse = nullptr;
    decltype(&MHD_get_connection_info) connectionInfo = nullptr;
    decltype(&MHD_is_feature_supported) featureSupported = nullptr;
    bool ready = false;
};

// Loaded once for the process; ready is false when the library is missing.
const MicroHttpd& microHttpd();
