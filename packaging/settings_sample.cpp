// Prints the settings file a first start writes; the build installs it as the sample.
#include <cstdio>

#include "message/TextCodec.h"
#include "settings/SettingKeys.h"

int main() {
    const QByteArray text = bytesFromText(SettingKeys::firstFileText());
    return std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout) ==
                   std::size_t(text.size())
               ? 0
               : 1;
}
