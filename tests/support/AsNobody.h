#pragma once
// Permission errors as an unprivileged user sees them. CI runs the tests as
// root, whom read-only folders and locked files do not stop; the operation
// runs in a forked child that has given up root for good.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarnel::test {

// The id of the user and group the child becomes: nobody / nogroup.
inline constexpr unsigned kNobodyId = 65534;

// Runs `work` in a forked child: as nobody when this process is root (every
// supplementary group dropped, root unreachable again), as this user
// otherwise. The child's report comes back through a pipe; nullopt when the
// child could not drop its privileges or ended without reporting. The child
// leaves with _exit, so it runs no destructors or handlers of the parent's.
std::optional<std::string> RunAsNobody(const std::function<std::string()>& work);

// Lets everyone read `path` and everything under it, and pass through its
// folders, whatever the umask made them: what the child is given to work on.
void ShareWithNobody(const std::filesystem::path& path);

}  // namespace tarnel::test
