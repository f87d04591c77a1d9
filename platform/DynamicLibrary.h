#pragma once
// A shared library loaded at run time (dlopen). The only place that loads
// libraries and looks up their symbols.

#include <QString>
#include <QStringList>
#include <memory>

namespace vz {

class DynamicLibrary {
public:
    // Loads the first of `names` that the system's library search finds
    // (a name with a "/" is a path). Nothing when none loads; *errorText then
    // holds the loader's text for the last name tried.
    static std::unique_ptr<DynamicLibrary> LoadFirst(const QStringList& names, QString* errorText = nullptr);

    ~DynamicLibrary();  // unloads
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The name it was loaded by.
    const QString& name() const { return name_; }
    // Address of an exported symbol, or nullptr.
    void* symbol(const char* symbolName) const;

    // Typed look-up: `fn = library.function<decltype(&isc_x)>("isc_x")`.
    template <typename FunctionPointer>
    FunctionPointer function(const char* symbolName) const
    {
        return reinterpret_cast<FunctionPointer>(symbol(symbolName));
    }

private:
    DynamicLibrary(void* handle, QString name) : handle_(handle), name_(std::move(name)) {}
    void* handle_;
    QString name_;
};

}  // namespace vz
