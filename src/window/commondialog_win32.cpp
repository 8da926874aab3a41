#include "commondialog.h"

#include <algorithm>
#include <string>
#include <vector>

#include <QDir>
#include <QWidget>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shobjidl.h>

namespace dotmatrix {

namespace {

// Releases a COM object when it goes out of scope.
template <typename Interface>
struct Held {
    Interface* object = nullptr;
    ~Held()
    {
        if (object != nullptr)
            object->Release();
    }
};

std::wstring wide(const QString& text)
{
    return text.toStdWString();
}

} // namespace

std::optional<QString> nativeSaveName(QWidget* parent, const QStringList& descriptions, const QStringList& patterns,
                                      int filterIndex, const QString& proposed)
{
    // Windows' save dialog, without a default extension: Qt's own sets the
    // first filter's, and Windows then appends it to a name typed without one.
    Held<IFileSaveDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog.object))))
        return std::nullopt;
    std::vector<std::wstring> texts;
    for (qsizetype i = 0; i < descriptions.size(); ++i) {
        texts.push_back(wide(descriptions[i]));
        texts.push_back(wide(patterns.value(i)));
    }
    std::vector<COMDLG_FILTERSPEC> types;
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2)
        types.push_back({texts[i].c_str(), texts[i + 1].c_str()});
    if (!types.empty()) {
        dialog.object->SetFileTypes(static_cast<UINT>(types.size()), types.data());
        dialog.object->SetFileTypeIndex(static_cast<UINT>(std::clamp<int>(filterIndex, 1, static_cast<int>(types.size()))));
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog.object->GetOptions(&options);
    options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_OVERWRITEPROMPT);
    options |= FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR | FOS_NOREADONLYRETURN;
    dialog.object->SetOptions(options);
    if (!proposed.isEmpty()) {
        const QString native = QDir::toNativeSeparators(proposed);
        const qsizetype slash = native.lastIndexOf(u'\\');
        Held<IShellItem> folder;
        if (slash > 0
            && SUCCEEDED(::SHCreateItemFromParsingName(wide(native.left(slash)).c_str(), nullptr,
                                                       IID_PPV_ARGS(&folder.object))))
            dialog.object->SetFolder(folder.object);
        dialog.object->SetFileName(wide(native.mid(slash + 1)).c_str());
    }
    const HWND owner = parent != nullptr ? reinterpret_cast<HWND>(parent->window()->winId()) : nullptr;
    if (FAILED(dialog.object->Show(owner)))
        return QString();  // cancelled
    Held<IShellItem> result;
    PWSTR path = nullptr;
    if (FAILED(dialog.object->GetResult(&result.object))
        || FAILED(result.object->GetDisplayName(SIGDN_FILESYSPATH, &path)))
        return QString();
    const QString chosen = QString::fromWCharArray(path);
    ::CoTaskMemFree(path);
    return chosen;
}

} // namespace dotmatrix
