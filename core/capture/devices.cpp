#include "core/capture/devices.h"

#include "core/capture/capture_request.h"

#include <QStringList>

namespace lumiclip {

const Device* FindDevice(const QString& name) {
    for (const Device& device : kDevices) {
        if (name.trimmed().compare(QLatin1String(device.name), Qt::CaseInsensitive) == 0) {
            return &device;
        }
    }
    return nullptr;
}

void ApplyDevice(const Device& device, PageSetUp* page) {
    page->viewWidth = device.width;
    page->viewHeight = device.height;
    page->scaleFactor = device.scaleFactor;
    page->mobile = device.mobile;
    page->touch = device.touch;
    page->userAgent = QString::fromLatin1(device.userAgent);
}

QString DeviceNames() {
    QStringList names;
    for (const Device& device : kDevices) {
        names.append(QLatin1String(device.name));
    }
    return names.join(QStringLiteral(", "));
}

QString DeviceList() {
    QString list;
    for (const Device& device : kDevices) {
        list += QStringLiteral("%1%2x%3 at %4x%5\n")
                    .arg(QString::fromLatin1(device.name).leftJustified(16, QLatin1Char(' ')),
                         QString::number(device.width), QString::number(device.height),
                         QString::number(device.scaleFactor),
                         device.mobile ? QStringLiteral(", mobile, touch") : QString());
    }
    return list;
}

}  // namespace lumiclip
