#include "sandbox/namespacesetup.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool NamespaceSetup::writeFile(const std::string &path, const std::string &text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

bool NamespaceSetup::enter(std::string *error)
{
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid != 0) {
        // An unprivileged user may mount only inside a user namespace it owns.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            *error =
                std::string("cannot create a user and mount namespace: ") + std::strerror(errno);
            return false;
        }
        if (!writeFile("/proc/self/setgroups", "deny") ||
            !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            *error = std::string("cannot map the user into its namespace: ") + std::strerror(errno);
            return false;
        }
    } else if (unshare(CLONE_NEWNS) != 0) {
        *error = std::string("cannot create a mount namespace: ") + std::strerror(errno);
        return false;
    }
    // Without this, mounts below shared mount points would propagate to the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        // EINVAL: "/" is no mount point, as in a chroot made of a plain directory.
        *error =
            std::string("cannot make the mounts private: ") + std::strerror(errno) +
            (errno == EINVAL ? " (in a chroot, bind-mount its directory onto itself first)" : "");
        return false;
    }
    return true;
}

bool NamespaceSetup::mountTmpfs(const std::string &dir, std::string *error)
{
    if (mount("boardsim", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=64m") != 0) {
        *error = "cannot mount a tmpfs on " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool NamespaceSetup::shadow(const std::string &dir, const std::set<std::string> &hide,
                            std::string *error)
{
    // The descriptor keeps the original directory reachable (through
    // /proc/self/fd) after the tmpfs covers it.
    int oldFd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (oldFd < 0) {
        *error = "cannot open " + dir + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *ent = readdir(d)) {
            std::string name = ent->d_name;
            if (name != "." && name != ".." && !hide.count(name))
                names.push_back(name);
        }
        closedir(d);
    }
    if (!mountTmpfs(dir, error)) {
        ::close(oldFd);
        return false;
    }
    m_shadowed.insert(dir);
    const std::string oldDir = "/proc/self/fd/" + std::to_string(oldFd) + "/";
    for (const std::string &name : names) {
        struct stat st;
        if (fstatat(oldFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const std::string target = (dir + '/').append(name);
        if (S_ISLNK(st.st_mode)) {
            char link[4096];
            ssize_t n = readlinkat(oldFd, name.c_str(), link, sizeof(link) - 1);
            if (n > 0) {
                link[n] = '\0';
                if (symlink(link, target.c_str()) != 0)
                    continue;
            }
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (mkdir(target.c_str(), st.st_mode & 07777) != 0)
                continue;
        } else {
            int fd = ::open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0)
                continue;
            ::close(fd);
        }
        // Best effort: an entry that cannot be bound (e.g. locked in a user
        // namespace) stays an empty placeholder rather than failing the run.
        mount((oldDir + name).c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    }
    ::close(oldFd);
    return true;
}

bool NamespaceSetup::ensureDirectory(const std::string &path, std::string *error)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        *error = path + " exists but is not a directory";
        return false;
    }
    size_t slash = path.find_last_of('/');
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    if (parent != "/" && !ensureDirectory(parent, error))
        return false;
    // Creating it directly would change the host (the parent is shared with
    // it); a parent shadowed before is already our own tmpfs.
    if (!m_shadowed.count(parent) && !shadow(parent, {}, error))
        return false;
    if (mkdir(path.c_str(), 0755) != 0) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
