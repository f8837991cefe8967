// The editor window: project files (both meshes with their images and the
// run settings) saved and opened from the canvases' menu and Ctrl+S / Ctrl+O.
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

#include "core/ProjectFile.h"
#include "core/Settings.h"
#include "editor/ui/Tarnel_M.h"
#include "imaging/PictureIO.h"
#include "platform/Dialogs.h"
#include "platform/FileRead.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProjectFilter = "ﾌﾟﾛｼﾞｪｸﾄ ﾌｧｲﾙ (json)|*.json";
constexpr const char* kSaveProjectTitle = "ﾌﾟﾛｼﾞｪｸﾄを保存";
constexpr const char* kOpenProjectTitle = "ﾌﾟﾛｼﾞｪｸﾄを開く";
constexpr const char* kProjectNeedsImages = "ｽﾀｰﾄ ｲﾒｰｼﾞとｴﾝﾄﾞ ｲﾒｰｼﾞをﾛｰﾄﾞしてください";
constexpr const char* kProjectSaveFailed = "ﾌﾟﾛｼﾞｪｸﾄを保存できません： ";
constexpr const char* kProjectOpenFailed = "ﾌﾟﾛｼﾞｪｸﾄを開けません： ";
constexpr int kSavedNoteMs = 2500;
constexpr const char* kProjectSizeMismatch = "ﾌﾟﾛｼﾞｪｸﾄと画像の大きさが合いません：";

void tell(const std::string& text) { Dialogs().messageBox(text, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle); }

const char* imageName(int i) { return i == 0 ? "ｽﾀｰﾄ ｲﾒｰｼﾞ" : "ｴﾝﾄﾞ ｲﾒｰｼﾞ"; }

std::string mismatchText(const ProjectSizeMismatch& m) {
    const int i = m.image == ProjectSizeMismatch::Image::Start ? 0 : 1;
    const char* what = m.kind == ProjectSizeMismatch::Kind::ImageSize ? "ﾌﾟﾛｼﾞｪｸﾄ" : "ﾒｯｼｭ";
    const std::string name = m.key >= 2 ? "ｷｰ画像 " + std::to_string(m.key + 1) : std::string(imageName(i));
    return name + "： " + what + " " + SizeText(m.expectedWidth, m.expectedHeight) + "、画像 " +
           SizeText(m.foundWidth, m.foundHeight);
}

}  // namespace

// The last project's folder, else the start image's, else the image folder.
std::string Tarnel_M::projectFolder() const {
    if (!projectPath_.empty()) return FolderOf(projectPath_);
    if (images.loaded(0)) return FolderOf(images.ImagePath[0]);
    return Settings().ImageFolder;
}

bool Tarnel_M::SaveProject(const std::string& chosenPath) {
    if (running_) return false;
    if (!images.bothLoaded()) {
        tell(kProjectNeedsImages);
        return false;
    }
    std::string path = chosenPath;
    if (path.empty()) {
        FileDialogRequest request;
        request.title = kSaveProjectTitle;
        request.filter = kProjectFilter;
        request.defaultExtension = "json";
        request.initialFolder = projectFolder();
        request.fileName = projectPath_.empty() ? std::string() : fs::path(projectPath_).filename().string();
        request.overwritePrompt = true;
        std::optional<std::string> chosen = Dialogs().saveFile(request);
        if (!chosen || chosen->empty()) return false;
        path = *chosen;
    }
    ProjectData data;
    data.mesh.rows = mesh.Rows;
    data.mesh.columns = mesh.Columns;
    data.mesh.start = mesh.StartMesh;
    data.mesh.end = mesh.EndMesh;
    std::string error;
    const fs::path stem = fs::path(path).replace_extension();
    // Every key, the shown pair as the views hold it.
    std::vector<ChainKey> chain = ChainKeys(captureState());
    std::vector<ProjectKey> keys;
    for (int k = 0; k < int(chain.size()); ++k) {
        const SourceState& source = *chain[size_t(k)].source;
        std::string image = source.path;
        // A trimmed or reduced image is not the file it came from: it goes
        // beside the project, so that the project reopens (and runs) as it is now.
        if (source.prepared) {
            image = stem.string() + (k == 0 && chain.size() == 2   ? ".start.bmp"
                                     : k == 1 && chain.size() == 2 ? ".end.bmp"
                                                                   : ".key" + std::to_string(k + 1) + ".bmp");
            if (PictureResult saved = SavePictureBMP(source.picture, image); !saved) {
                tell(kProjectSaveFailed + image + "\n" + saved.reason);
                return false;
            }
        }
        const Bitmap* b = source.picture.isBitmap() ? source.picture.bitmap.get() : nullptr;
        keys.push_back(ProjectKey{image, b ? b->width() : 0, b ? b->height() : 0, chain[size_t(k)].mesh});
    }
    SetProjectKeys(data, std::move(keys));
    data.frames = VS_Frame->value();
    data.saveKind = Settings().SaveKind;
    data.transparent = Settings().Transparency != 0;
    data.hasFrames = data.hasSaveKind = data.hasTransparent = true;
    data.loop = projectLoop_;
    if (!SaveProjectFile(path, data, error)) {
        tell(kProjectSaveFailed + path + "\n" + error);
        return false;
    }
    projectPath_ = path;
    // The title says so for a moment, where the project's name and mark are.
    if (!titleFlash_) {
        titleFlash_ = new QTimer(this);
        titleFlash_->setSingleShot(true);
        titleFlash_->setInterval(kSavedNoteMs);
        connect(titleFlash_, &QTimer::timeout, this, [this] { showTitle(); });
    }
    titleFlash_->start();
    markSaved();
    return true;
}

bool Tarnel_M::OpenProject(const std::string& chosenPath) {
    if (running_) return false;
    std::string path = chosenPath;
    if (path.empty()) {
        FileDialogRequest request;
        request.title = kOpenProjectTitle;
        request.filter = kProjectFilter;
        request.initialFolder = projectFolder();
        std::optional<std::string> chosen = Dialogs().openFile(request);
        if (!chosen || chosen->empty()) return false;
        path = *chosen;
    }
    ProjectData project;
    std::string error;
    if (!LoadProjectFile(path, project, error)) {
        tell(kProjectOpenFailed + path + "\n" + error);
        return false;
    }
    // The images the project names, or the loaded ones for a file of meshes only.
    EditorState target = captureState();
    std::vector<ChainKey> current = ChainKeys(target);
    std::vector<ProjectKey> keys = ProjectKeys(project);
    std::vector<ChainKey> chain;
    std::vector<std::pair<int, int>> sizes;
    for (int k = 0; k < int(keys.size()); ++k) {
        const std::string& image = keys[size_t(k)].image;
        if (image.empty()) {
            // A file of meshes only keeps the pictures the editor holds.
            const bool loaded = k < int(current.size()) && current[size_t(k)].source && current[size_t(k)].source->picture.isBitmap();
            if (!loaded) {
                const std::string name = k < 2 ? imageName(k) : "ｷｰ画像 " + std::to_string(k + 1);
                tell(kProjectOpenFailed + path + "\n" + name + "がありません");
                return false;
            }
            chain.push_back(ChainKey{current[size_t(k)].source, keys[size_t(k)].mesh});
        } else {
            auto source = std::make_shared<SourceState>();
            std::string reason;
            if (!LoadSourcePicture(image, source->picture, reason)) {
                tell(kLoadFailedMessage + image + "\n" + reason);
                return false;
            }
            source->workingCopy = source->picture;
            source->path = image;
            source->width = source->picture.width();
            source->height = source->picture.height();
            source->sizeLabel = source->sizeLabelS = SizeText(source->width, source->height);
            source->preparable = true;
            chain.push_back(ChainKey{std::move(source), keys[size_t(k)].mesh});
        }
        const StdPicture& picture = chain.back().source->picture;
        sizes.emplace_back(picture.width(), picture.height());
    }
    const std::vector<ProjectSizeMismatch> mismatches = CheckProjectKeySizes(project, sizes);
    if (!mismatches.empty()) {
        std::string text = std::string(kProjectSizeMismatch) + " " + path;
        for (const ProjectSizeMismatch& m : mismatches) {
            text += '\n';
            text += mismatchText(m);
        }
        tell(text);
        return false;
    }
    target.rows = project.mesh.rows;
    target.columns = project.mesh.columns;
    SetChainKeys(target, std::move(chain), 0);
    {
        EditScope edit(*this);
        applyState(target);
        if (project.hasFrames) VS_Frame->setValue(project.frames);
        if (project.hasSaveKind) Img_Kind_MouseDown(project.saveKind);
        if (project.hasTransparent && (Settings().Transparency != 0) != project.transparent) Img_Trans_MouseDown();
    }
    currentKey_ = 0;
    showKeyStrip();
    for (int i = 0; i < 2; ++i) VS_Stretch[size_t(i)]->setValue(100);
    projectPath_ = path;
    projectLoop_ = project.loop;
    markSaved();
    return true;
}

}  // namespace tarnel
