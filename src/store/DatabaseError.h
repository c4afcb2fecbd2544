#pragma once

#include "platform/Errors.h"

// Any failure of the data store: a missing table, a connection refused, bad SQL.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};
