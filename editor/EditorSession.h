#pragma once
// The editing session kept in the program folder while the editor runs, so
// that work survives an end that did not go through the end command (the
// cancel command, the close image, a crash): both meshes, both source
// pictures with their working copies, paths and sizes.
//
// Files: "Tarnel.session.json" and the pictures it names,
// "Tarnel.session.<n>.bmp". Pictures are written under new names before the
// JSON that names them replaces the old one, and old pictures go only after
// that, so a crash at any moment leaves a consistent session (the previous
// one or the new one). Every file is written atomically and synced.
#include <map>
#include <string>

#include "core/EditHistory.h"

namespace tarnel {

inline constexpr const char* kRestoreSessionQuestion = "前回の編集を復元しますか？";
inline constexpr const char* kRestoreSessionFailed = "前回の編集を復元できませんでした。";

class EditorSession {
public:
    explicit EditorSession(std::string folder);

    // Writes the state; pictures already written by this object are not
    // written again. False with `error` set when something cannot be written
    // (the previous session then stays as it was).
    bool Save(const EditorState& state, std::string& error);
    // True when a session file is there.
    bool Exists() const;
    // Reads the session; false with `error` set when it is unreadable or a
    // picture it names is missing or broken.
    bool Load(EditorState& out, std::string& error) const;
    // Deletes the session and its pictures.
    void Remove();

    std::string jsonPath() const;

private:
    struct Written {
        StdPicture picture;  // held, so its address is never reused while named here
        std::string name;
    };
    std::string pictureName(const StdPicture& picture, std::map<const Bitmap*, Written>& written, std::string& error);

    std::string folder_;
    int next_ = 0;
    std::map<const Bitmap*, Written> written_;  // pictures on disk, by the bitmap they hold
};

}  // namespace tarnel
