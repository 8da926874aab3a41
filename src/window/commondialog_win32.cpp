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

// Hears the name in the dialog's box as the user confirms it. COM objects
// are released, never deleted through their interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TypedName : public IFileDialogEvents {
public:
    QString typed;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (id == __uuidof(IUnknown) || id == __uuidof(IFileDialogEvents)) {
            *object = static_cast<IFileDialogEvents*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the stack

    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog* dialog) override
    {
        PWSTR name = nullptr;
        if (SUCCEEDED(dialog->GetFileName(&name)) && name != nullptr) {
            typed = QString::fromWCharArray(name);
            ::CoTaskMemFree(name);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*, FDE_SHAREVIOLATION_RESPONSE*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override
    {
        return E_NOTIMPL;
    }

private:
    ULONG references_ = 1;
};
#pragma GCC diagnostic pop

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
    TypedName events;
    DWORD cookie = 0;
    const bool listening = SUCCEEDED(dialog.object->Advise(&events, &cookie));
    const HWND owner = parent != nullptr ? reinterpret_cast<HWND>(parent->window()->winId()) : nullptr;
    const HRESULT shown = dialog.object->Show(owner);
    if (listening)
        dialog.object->Unadvise(cookie);
    if (FAILED(shown))
        return QString();  // cancelled
    Held<IShellItem> result;
    PWSTR path = nullptr;
    if (FAILED(dialog.object->GetResult(&result.object))
        || FAILED(result.object->GetDisplayName(SIGDN_FILESYSPATH, &path)))
        return QString();
    QString chosen = QString::fromWCharArray(path);
    ::CoTaskMemFree(path);
    // Some dialogs (Wine's) append the selected filter's extension all the
    // same: a name typed without one is taken as typed.
    {
        const QString name = QDir::toNativeSeparators(events.typed).section(u'\\', -1);
        const qsizetype slash = chosen.lastIndexOf(u'\\');
        const QString given = chosen.mid(slash + 1);
        if (!name.isEmpty() && !name.contains(u'.') && given.startsWith(name + u'.')
            && given.indexOf(u'.', name.size() + 1) < 0)
            chosen = chosen.left(slash + 1) + name;
    }
    return chosen;
}

} // namespace dotmatrix
