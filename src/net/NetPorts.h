#pragma once

// Ports of a registration point: FTP on 21, the parameter message on 1024.
// KIVO_FTP_PORT and KIVO_PARAM_PORT override them, since an unprivileged
// simulator cannot listen on 21.
int ftpPort();
int paramPort();
