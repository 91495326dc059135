// The frames of the vector picture, drawn and written point by point of the acquisition pulse.
#include "render/vector_evolution_frames.h"

#include <string>
#include <system_error>
#include <utility>

namespace velmora::render {

VectorEvolutionFrames::VectorEvolutionFrames(util::Messages& messages, const util::RunControl& control,
                                             FrameShown shown)
    : messages_(messages), control_(control), shown_(std::move(shown))
{
}

void VectorEvolutionFrames::begin(const std::filesystem::path& frameFolder, int pulsePoints)
{
    picture_.clear();
    folder_ = frameFolder;
    pulsePoints_ = pulsePoints < 1 ? 1 : pulsePoints;
    writing_ = true;
}

void VectorEvolutionFrames::sampled(int /*run*/, int sample, std::span<const double> row)
{
    if (!control_.running() || row.size() < 4)
        return;
    picture_.drawVector(row[1], row[2], row[3]);
    if (writing_ && !writeFrame(sample))
        writing_ = false;
    if (shown_)
        shown_(picture_, pulsePoints_);
}

// Written under a temporary name and renamed, so a frame file is always a whole picture.
bool VectorEvolutionFrames::writeFrame(int sample)
{
    const std::string name = "plotVector" + std::to_string(sample);
    const std::filesystem::path frame = folder_ / (name + ".png");
    const std::filesystem::path partial = folder_ / ("." + name + ".part.png");
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    util::Outcome saved = error ? util::Outcome::failure(error.message()) : picture_.box().save(partial);
    if (saved) {
        std::filesystem::rename(partial, frame, error);
        if (error) {
            saved = util::Outcome::failure("cannot rename " + partial.string() + " to " +
                                           frame.filename().string() + ": " + error.message());
            std::filesystem::remove(partial, error);
        }
    }
    if (saved)
        return true;
    messages_.show("The vector picture's frames cannot be written into " + folder_.string() + " (" +
                       saved.message() + "); the run goes on without them.",
                   "Error!");
    return false;
}

}  // namespace velmora::render
