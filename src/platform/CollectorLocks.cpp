#include "platform/CollectorLocks.h"

CollectorLocks::Refusal CollectorLocks::acquire() {
    m_refusal = !m_instance.acquire() ? Refusal::Machine
                : !m_folder.acquire() ? Refusal::Folder
                                      : Refusal::None;
    return m_refusal;
}

QString CollectorLocks::holder() const {
    return m_refusal == Refusal::Machine ? m_instance.holder() : m_folder.holder();
}
