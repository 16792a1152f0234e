#pragma once

#include <set>
#include <string>

// Gives boardsim a private mount namespace (inside a user namespace when not
// root) and prepares the real paths for the simulations. Mount points that
// do not exist on the host are made without touching the host: the parent
// directory is shadowed by a tmpfs that re-creates all its entries (bind
// mounts of the originals) plus the missing one.
class NamespaceSetup
{
public:
    // Returns false with the reason when this machine cannot host boardsim.
    bool enter(std::string *error);
    // Makes `path` an existing directory (an empty tmpfs-backed one when it
    // was missing). Entries named in `hide` vanish from a shadowed parent.
    bool ensureDirectory(const std::string &path, std::string *error);
    // Replaces `dir` by a tmpfs with the same entries except those in `hide`.
    bool shadow(const std::string &dir, const std::set<std::string> &hide, std::string *error);
    bool mountTmpfs(const std::string &dir, std::string *error);

private:
    static bool writeFile(const std::string &path, const std::string &text);

    std::set<std::string> m_shadowed;
};
