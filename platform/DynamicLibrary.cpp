#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace vz {

std::unique_ptr<DynamicLibrary> DynamicLibrary::LoadFirst(const QStringList& names, QString* errorText)
{
    for (const QString& name : names) {
        const QByteArray encoded = name.toLocal8Bit();
        if (void* handle = dlopen(encoded.constData(), RTLD_NOW | RTLD_LOCAL))
            return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, name));
        if (errorText) {
            const char* text = dlerror();
            *errorText = text ? QString::fromLocal8Bit(text) : QString();
        }
    }
    return nullptr;
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }

void* DynamicLibrary::symbol(const char* symbolName) const { return dlsym(handle_, symbolName); }

}  // namespace vz
