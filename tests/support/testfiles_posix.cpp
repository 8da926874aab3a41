#include "testfiles.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace dotmatrix::testing {

bool run(const std::string& command, std::string* log)
{
    const std::string output = std::filesystem::temp_directory_path() / ("dotmatrix-run-" + std::to_string(::getpid()));
    const int status = std::system(("{ " + command + "; } >" + output + " 2>&1").c_str());
    if (status != 0 && log != nullptr) {
        std::ifstream in(output);
        *log = std::string(std::istreambuf_iterator<char>(in), {});
        while (!log->empty() && log->back() == '\n')
            log->pop_back();
        *log = command + ": " + (log->empty() ? "failed" : *log);
    }
    std::filesystem::remove(output);
    return status == 0;
}

MountedFolder::MountedFolder(const std::string& type, int sizeMiB)
{
    if (::geteuid() != 0) {
        whyNot_ = "mounting a " + type + " needs root";
        return;
    }
    folder_ = std::make_unique<TempFolder>();
    mountPoint_ = folder_->path("mnt");
    std::filesystem::create_directory(mountPoint_);
    const std::string size = std::to_string(sizeMiB);
    if (type == "tmpfs") {
        mount("mount -t tmpfs -o size=" + size + "m tmpfs " + mountPoint_);
        return;
    }
    const std::string image = folder_->path(type + ".img");
    if (!run("truncate -s " + size + "M " + image, &whyNot_) || !run("mkfs." + type + " -q " + image, &whyNot_))
        return;
    mount("mount -o loop " + image + " " + mountPoint_);
}

MountedFolder MountedFolder::overlay()
{
    MountedFolder overlay;
    if (::geteuid() != 0) {
        overlay.whyNot_ = "mounting an overlay needs root";
        return overlay;
    }
    overlay.folder_ = std::make_unique<TempFolder>();
    for (const char* name : {"lower", "upper", "work", "mnt"})
        std::filesystem::create_directory(overlay.folder_->path(name));
    overlay.mountPoint_ = overlay.folder_->path("mnt");
    overlay.mount("mount -t overlay overlay -o lowerdir=" + overlay.folder_->path("lower") + ",upperdir="
                  + overlay.folder_->path("upper") + ",workdir=" + overlay.folder_->path("work") + " "
                  + overlay.mountPoint_);
    return overlay;
}

MountedFolder MountedFolder::slow(std::int64_t bytes, int delayMs, bool failClose, int syncDelayMs)
{
    MountedFolder slow;
    if (::geteuid() != 0) {
        slow.whyNot_ = "mounting a FUSE file system needs root";
        return slow;
    }
    slow.folder_ = std::make_unique<TempFolder>();
    slow.mountPoint_ = slow.folder_->path("mnt");
    std::filesystem::create_directory(slow.mountPoint_);
    slow.mount(std::string("/usr/bin/python3 ") + DOTMATRIX_SLOWFS + " " + slow.mountPoint_
               + " -o direct_io,size=" + std::to_string(bytes) + ",delay_ms=" + std::to_string(delayMs) + ",sync_delay_ms=" + std::to_string(syncDelayMs)
               + (failClose ? ",fail_close=1" : ""));
    return slow;
}

MountedFolder::MountedFolder(MountedFolder&& other) noexcept
    : folder_(std::move(other.folder_)),
      mountPoint_(std::move(other.mountPoint_)),
      whyNot_(std::exchange(other.whyNot_, "moved away"))
{
}

void MountedFolder::mount(const std::string& command)
{
    if (!run(command, &whyNot_))
        return;
    whyNot_.clear();
}

MountedFolder::~MountedFolder()
{
    // A file still open in it (a window that outlives the test's folder)
    // keeps it busy: it is then detached at once and goes, with a FUSE
    // server, once the last file is closed.
    if (mounted() && !run("umount " + mountPoint_))
        (void)run("umount -l " + mountPoint_);
}

std::string MountedFolder::path(const std::string& name) const
{
    return mountPoint_ + "/" + name;
}

std::string MountedFolder::below(const std::string& name) const
{
    return folder_->path("upper/" + name);
}

LoopDevice::LoopDevice(const std::string& image)
{
    if (::geteuid() != 0) {
        whyNot_ = "attaching a loop device needs root";
        return;
    }
    const std::string output = image + ".device";
    if (!run("losetup --find --show " + image + " >" + output, &whyNot_))
        return;
    std::ifstream(output) >> device_;
    std::filesystem::remove(output);
    if (device_.empty())
        whyNot_ = "losetup named no device";
}

LoopDevice::~LoopDevice()
{
    if (attached())
        (void)run("losetup -d " + device_);
}

FileSizeLimit::FileSizeLimit(std::int64_t bytes)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    previous_ = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(previous_);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

std::string realFonts(std::string& whyNot)
{
    static std::string folder;
    static std::string why;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string script = std::string(DOTMATRIX_SHARED) + "/realfonts/fetch.sh";
        const std::string into = std::filesystem::temp_directory_path().string() + "/dotmatrix-realfonts";
        if (!std::filesystem::exists(script))
            why = "no " + script + " beside the checkout";
        else if (!run("sh " + script + " " + into + " >/dev/null 2>&1"))
            why = "the real files could not be fetched (" + script + " needs apt-get and Debian's archive)";
        else
            folder = into + "/root";
    }
    whyNot = why;
    return folder;
}

} // namespace dotmatrix::testing
