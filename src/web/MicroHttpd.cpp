#include "web/MicroHttpd.h"

#include "platform/LibraryFunction.h"

namespace {

MicroHttpd load() {
    MicroHttpd m;
    QLibrary library(QStringLiteral("microhttpd"), 12); // stays loaded
    if (!library.load())
        return m;
    m.ready = resolveFunction(library, "MHD_start_daemon", m.startDaemon) &&
              resolveFunction(library, "MHD_stop_daemon", m.stopDaemon) &&
              resolveFunction(library, "MHD_get_daemon_info", m.daemonInfo) &&
              resolveFunction(library, "MHD_get_connection_values", m.connectionValues) &&
              resolveFunction(library, "MHD_create_response_from_buffer", m.responseFromBuffer) &&
              resolveFunction(library, "MHD_add_response_header", m.addResponseHeader) &&
              resolveFunction(library, "MHD_queue_response", m.queueResponse) &&
              resolveFunction(library, "MHD_destroy_response", m.destroyResponse) &&
              resolveFunction(library, "MHD_get_connection_info", m.connectionInfo) &&
              resolveFunction(library, "MHD_is_feature_supported", m.featureSupported);
    return m;
}

} // namespace

const MicroHttpd& microHttpd() {
    static const MicroHttpd library = load();
    return library;
}
