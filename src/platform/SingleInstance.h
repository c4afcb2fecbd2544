#pragma once

#include <QString>
#include <memory>

class QSocketNotifier;

// The machine-wide named lock of a station: a name in the abstract socket
// namespace, which every process of the machine sees (a service unit's
// private temporary folder does not hide it, as it would a file) and which
// the kernel frees when its holder dies. A second start learns which
// process and user hold it.
class SingleInstance {
public:
    // The name is "MyAppName" unless KIVO_INSTANCE names another (for
    // laboratories and tests that run several stations on one machine).
    SingleInstance();
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process now holds the name.
    bool acquire();
    // Who holds it, once acquire() has failed ("el proceso 12 del usuario
    // kivo-ip"), or why the name could not be taken.
    const QString& holder() const { return m_holder; }

private:
    void drainAsks();

    QString m_name;
    QString m_holder;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_asks;
};
