#pragma once

// The one entry point to ONNX Runtime. Every engine includes this header rather
// than the runtime's own, so that all of them see the C++ wrappers configured the
// same way (the API table is set up by hand, see OrtRuntime::api).
#ifndef ORT_API_MANUAL_INIT
#define ORT_API_MANUAL_INIT
#endif
#include <onnxruntime_cxx_api.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Quillmark {

// The runtime objects an inference engine owns for its whole life: the logging
// environment and the session options every session of the engine is made with
// (CPU, 2 intra-op threads, all graph optimisations). They are made when first
// needed, normally by the first model load: the environment writes the runtime's
// own files under the user's home folder, which a program start that runs no
// model must not do. Runtime failures throw Ort::Exception.
class OrtRuntime {
public:
    // The API version the program is written against. The runtime library may be
    // newer; it still serves this version's table.
    static constexpr uint32_t apiVersion = 20;
    static constexpr int intraOpThreads = 2;

    // logId (a string literal) names the engine in the runtime's own log lines
    // ("Quillmark", "QuillmarkFace", ...). Logging is at warning level. A
    // projection, when given, is announced to the environment once it is made.
    explicit OrtRuntime(const char *logId, std::optional<OrtLanguageProjection> projection = std::nullopt);
    ~OrtRuntime();

    OrtRuntime(const OrtRuntime &) = delete;
    OrtRuntime &operator=(const OrtRuntime &) = delete;

    // Sets up the runtime's API table once per process; later calls return the
    // same table. Throws Ort::Exception when the library lacks apiVersion.
    static const OrtApi &api();

    // The environment and the options, made on the first call.
    Ort::Env &env();
    Ort::SessionOptions &options();
    // Whether the environment has been made.
    bool hasEnvironment() const;

    // Opens the model file with this runtime's environment and options. Throws
    // Ort::Exception, before anything is read, when the path is no regular file
    // (a pipe, a device, a folder) or is larger than a model file can be.
    std::unique_ptr<Ort::Session> createSession(const QString &modelPath);

    // Wraps the caller's buffer, without copying, as a CPU float tensor of the
    // given shape. The buffer must outlive the tensor. Throws Ort::Exception when
    // the buffer holds fewer floats than the shape needs.
    static Ort::Value wrapFloatTensor(std::vector<float> &buffer, std::span<const int64_t> shape);

private:
    void makeObjects();

    const char *logId;
    std::optional<OrtLanguageProjection> projection;
    // Guards the first making of the objects below.
    mutable std::mutex making;
    // Declared in this order so that the options are released before the
    // environment.
    Ort::Env environment{nullptr};
    Ort::SessionOptions sessionOptions{nullptr};
};

// The names of a session's inputs and of its outputs, in model order.
std::vector<std::string> sessionInputNames(Ort::Session &session);
std::vector<std::string> sessionOutputNames(Ort::Session &session);
// The names as C strings for Ort::Session::Run; valid while `names` lives.
std::vector<const char *> namePointers(const std::vector<std::string> &names);
// The names as "a, b, c", for messages.
QString joinedNames(const std::vector<std::string> &names);

// Keeps `message` as an engine's last error and, when `log`, writes it as the
// warning "<operation>: <message>". Returns false.
bool keepEngineError(QString &error, const char *operation, const QString &message, bool log = true);

// The class names of a model's "names" metadata, e.g. "{0: 'person', 1: 'car'}";
// none when the entry is missing or unreadable.
QStringList modelMetadataClassNames(Ort::Session &session);

// The declared shape of a session's input or output; dynamic extents are -1.
// Empty when it is not a tensor.
std::vector<int64_t> sessionInputShape(const Ort::Session &session, size_t index);
std::vector<int64_t> sessionOutputShape(const Ort::Session &session, size_t index);

// Pictures wider or taller than this are not fed to a model: the input tensor
// alone would take gigabytes, and no vision model is trained at such sizes.
constexpr int64_t largestPictureInputSide = 8192;

// Why a model input of this shape cannot take the planar [1, 3, height, width]
// picture tensor; empty when it can (dynamic extents can, and so can an input of
// unknown rank). A channels-last input ([1, height, width, 3]) would otherwise be
// read as a 3-pixel-high picture.
QString pictureInputProblem(const std::vector<int64_t> &shape);

// Input 0 of a model fed pictures: its stated (positive) height and width
// replace `height` and `width`; dynamic extents leave them. Returns
// pictureInputProblem's reason, empty when the input takes a picture.
QString readPictureInputSize(const Ort::Session &session, int &width, int &height);

// Runs a model on a picture tensor of shape [1, 3, height, width] over `tensor`
// (not copied) and returns the named outputs in that order.
std::vector<Ort::Value> runOnPicture(Ort::Session &session, const std::string &inputName, std::vector<float> &tensor,
                                     int width, int height, const std::vector<std::string> &outputNames);

} // namespace Quillmark
