#include "device/d2xx_library.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace korvinet::device {

namespace {

#ifdef _WIN32
void* OpenModule(const QString& path, QString* error) {
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.utf16()));
    if (!module)
        *error = QStringLiteral("error %1").arg(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* Symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void CloseModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}
#else
void* OpenModule(const QString& path, QString* error) {
    void* module = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* text = dlerror();
        *error = text ? QString::fromLocal8Bit(text) : QStringLiteral("not found");
    }
    return module;
}
void* Symbol(void* module, const char* name) {
    return dlsym(module, name);
}
void CloseModule(void* module) {
    dlclose(module);
}
#endif

} // namespace

QString D2xxLibrary::DefaultName() {
#ifdef _WIN32
    return QStringLiteral("FTD2XX.DLL");
#else
    return QStringLiteral("libftd2xx.so");
#endif
}

std::unique_ptr<D2xxLibrary> D2xxLibrary::Load(const QString& path, QString* whyNot) {
    const QString name = path.isEmpty() ? DefaultName() : path;
    QString error;
    void* module = OpenModule(name, &error);
    if (!module) {
        if (whyNot)
            *whyNot =
                QStringLiteral("FTDI's D2XX library (%1) could not be loaded: %2").arg(name, error);
        return nullptr;
    }
    std::unique_ptr<D2xxLibrary> library(new D2xxLibrary);
    library->module_ = module;
    library->path_ = name;

    QString missing;
    auto take = [&](auto& function, const char* symbol) {
        void* address = Symbol(module, symbol);
        if (!address)
            missing +=
                (missing.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(symbol);
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(address);
    };
    take(library->CreateDeviceInfoList, "FT_CreateDeviceInfoList");
    take(library->GetDeviceInfoList, "FT_GetDeviceInfoList");
    take(library->Open, "FT_Open");
    take(library->Close, "FT_Close");
    take(library->GetComPortNumber, "FT_GetComPortNumber");
    take(library->SetBaudRate, "FT_SetBaudRate");
    take(library->GetDeviceInfo, "FT_GetDeviceInfo");
    take(library->EE_UARead, "FT_EE_UARead");
    take(library->SetLatencyTimer, "FT_SetLatencyTimer");
    take(library->Purge, "FT_Purge");
    take(library->GetQueueStatus, "FT_GetQueueStatus");
    take(library->SetRts, "FT_SetRts");
    take(library->ClrRts, "FT_ClrRts");
    take(library->Read, "FT_Read");
    if (!missing.isEmpty()) {
        if (whyNot)
            *whyNot = QStringLiteral("FTDI's D2XX library (%1) lacks %2").arg(name, missing);
        return nullptr; // the destructor unloads it
    }
    return library;
}

D2xxLibrary::~D2xxLibrary() {
    if (module_)
        CloseModule(module_);
}

} // namespace korvinet::device
