// Where the intro's data is. A launcher, a desktop menu or a terminal elsewhere starts the intro in some
// other folder than the repository root: it then finds its data beside its executable (a build, the Windows
// zip) or where it was installed, and where there is none at all it says so once instead of once per bitmap.
#include "shell/shell.h"

#include "scene/scene.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// How many folders the executable lies below the repository root (2 for build/shell/tarnwick), set by the
// build from where it puts the executable: data/ is looked for no higher than the repository.
constexpr int FoldersUpToRepository = TARNWICK_FOLDERS_UP_TO_REPOSITORY;

// The current folder's data, named as it always was, so a missing file's message reads "data/l1.bmp".
const char* const CurrentDataFolder = "data/";

// What marks a folder as the intro's data (any one is enough).
const char* const DataMarks[] = {"l1.bmp", "l2.bmp", "letters", "glimrook.xm"};

std::string AsFolder(const fs::path& path)
{
    std::string text = path.lexically_normal().string();
    while (!text.empty() && (text.back() == '/' || text.back() == '\\')) {
        text.pop_back();
    }
    return text + "/";
}

// A place as a message shows it: a whole path, without the closing slash.
std::string Shown(const std::string& place)
{
    std::error_code ignored;
    fs::path absolute = fs::absolute(fs::path(place), ignored);
    std::string text = AsFolder(absolute.empty() ? fs::path(place) : absolute);
    text.pop_back();
    return text;
}

} // namespace

std::vector<std::string> IntroDataPlaces(const std::string& executablePath)
{
    std::vector<std::string> candidates = {CurrentDataFolder};
    fs::path folder = fs::path(executablePath).parent_path();
    if (!folder.empty()) {
        fs::path installed = folder.parent_path() / "share" / "tarnwick";
        for (int up = 0; up <= FoldersUpToRepository; up++) {
            candidates.push_back(AsFolder(folder / "data"));
            if (folder.parent_path() == folder || folder.parent_path().empty()) {
                break; // the file system's root
            }
            folder = folder.parent_path();
        }
        candidates.push_back(AsFolder(installed));
    }
    // The executable's folder may be the current one: each place once.
    std::vector<std::string> places;
    std::vector<std::string> seen;
    for (const std::string& candidate : candidates) {
        std::string whole = Shown(candidate);
        bool known = false;
        for (const std::string& other : seen) {
            known = known || other == whole;
        }
        if (!known) {
            seen.push_back(whole);
            places.push_back(candidate);
        }
    }
    return places;
}

bool HoldsIntroData(const std::string& folder)
{
    for (const char* mark : DataMarks) {
        std::error_code ignored;
        if (fs::exists(fs::path(folder + mark), ignored)) {
            return true;
        }
    }
    return false;
}

bool FindIntroData(std::string* error)
{
    std::vector<std::string> places = IntroDataPlaces(PlatExecutablePath());
    for (const std::string& place : places) {
        if (HoldsIntroData(place)) {
            sceneDataFolder = place;
            introSongPath = SceneDataPath("data/glimrook.xm");
            return true;
        }
    }
    std::string list;
    for (const std::string& place : places) {
        list += (list.empty() ? "" : ", ") + Shown(place);
    }
    *error = "cannot find the intro's data (its pictures, glyphs and song): looked in " + list;
    return false;
}
