#pragma once

// Caps the address space this process may grow by, for the life of the object,
// so that a large allocation fails as it would when memory runs out. Only new
// mappings are refused; what the process holds already stays.

#include <sys/resource.h>

#include <QFile>

namespace QmTest {

class AddressSpaceCap {
public:
    explicit AddressSpaceCap(rlim_t extraBytes)
    {
        getrlimit(RLIMIT_AS, &previous);
        const rlim_t used = mappedBytes();
        if (used == 0)
            return;
        rlimit capped = previous;
        capped.rlim_cur = used + extraBytes;
        active = setrlimit(RLIMIT_AS, &capped) == 0;
    }
    ~AddressSpaceCap()
    {
        if (active)
            setrlimit(RLIMIT_AS, &previous);
    }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;

    bool active = false;

private:
    // The process's mapped size (VmSize), 0 when unknown.
    static rlim_t mappedBytes()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) * 1024;
        }
        return 0;
    }

    rlimit previous{};
};

} // namespace QmTest
