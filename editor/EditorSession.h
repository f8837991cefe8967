#pragma once
// The editing session kept in the program folder while the editor runs, so
// that work survives an end that did not go through the end command (the
// cancel command, the close image, a crash): both meshes, both source
// pictures with their working copies, paths and sizes.
//
// Every running editor has a session of its own, named by an id drawn when it
// first saves: "Tarnel.session.<id>.json", the pictures it names,
// "Tarnel.session.<id>.<n>.bmp", and "Tarnel.session.<id>.lock", on which the
// editor holds an flock for as long as the session is its. The lock, not a
// process id, tells a live editor's session from one left behind: it holds
// across PID namespaces and goes with the process however that ends. A
// session of the earlier single-session layout ("Tarnel.session.json" with
// "Tarnel.session.<n>.bmp") has the empty id and the lock
// "Tarnel.session.lock".
//
// Pictures are written under new names before the JSON that names them
// replaces the old one, and old pictures go only after that, so a crash at
// any moment leaves a consistent session (the previous one or the new one).
// Every file is written atomically and synced. Nothing of another session
// is ever removed unless its lock could be taken.
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/EditHistory.h"

namespace tarnel {

inline constexpr const char* kRestoreSessionQuestion = "前回の編集を復元しますか？";
inline constexpr const char* kRestoreSessionFailed = "前回の編集を復元できませんでした。";

// How the views showed the images: the zoom of each (a percentage, 0 for the
// whole image in the view) and its scroll offsets. Kept beside the session so
// a restored editing comes back as it was looked at.
struct SessionView {
    std::array<int, 2> zoom{100, 100};
    std::array<int, 2> scrollX{}, scrollY{};
};

class EditorSession {
public:
    // This editor's own session in `folder`; it takes its id and lock at the
    // first save.
    explicit EditorSession(std::string folder);
    // Lets the lock go. The session's files stay for a later start to offer;
    // only the lock file is removed.
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // Sessions in `folder` whose editor no longer runs, newest first, each
    // locked until its object goes, so no other editor offers it meanwhile.
    // Files of dead editors that name no session are removed on the way.
    static std::vector<std::unique_ptr<EditorSession>> Abandoned(const std::string& folder);

    // Writes the state; pictures already written by this object are not
    // written again. False with `error` set when something cannot be written
    // (the previous session then stays as it was).
    bool Save(const EditorState& state, std::string& error, const SessionView* view = nullptr);
    // True when this session's file is there.
    bool Exists() const;
    // Reads the session; false with `error` set when it is unreadable, holds
    // a value of the wrong kind or out of range, or a picture it names is
    // missing or broken.
    // `view` gets the views as saved, the defaults where the file has none.
    bool Load(EditorState& out, std::string& error, SessionView* view = nullptr) const;
    // Deletes the session's file and pictures; the lock stays held.
    void Remove();
    // Makes `other` (one of Abandoned) this editor's session: this one's own
    // files go, and later saves replace the other's files under its name.
    void Adopt(EditorSession&& other);

    std::string jsonPath() const;
    const std::string& folder() const { return folder_; }
    // Empty for the earlier single-session layout, or before the first save.
    const std::string& id() const { return id_; }

private:
    EditorSession(std::string folder, std::string id, int lockFd);
    struct Written {
        StdPicture picture;  // held, so its address is never reused while named here
        std::string name;
    };
    std::string pictureName(const StdPicture& picture, std::map<const Bitmap*, Written>& written, std::string& error);
    bool takeLock(std::string& error);
    void releaseLock();

    std::string folder_;
    std::string id_;
    int lockFd_ = -1;  // held on the lock file while the session is this object's
    int next_ = 0;
    std::map<const Bitmap*, Written> written_;  // pictures on disk, by the bitmap they hold
};

}  // namespace tarnel
