#include "ai/OrtRuntime.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QtDebug>

#include <array>
#include <string>

namespace Quillmark {

namespace {

constexpr qint64 largestModelFile = qint64(2) * 1024 * 1024 * 1024;

std::basic_string<ORTCHAR_T> toOrtPath(const QString &path)
{
#ifdef _WIN32
    return path.toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

const OrtApi *initialiseApi()
{
    const OrtApi *table = OrtGetApiBase()->GetApi(OrtRuntime::apiVersion);
    if (table)
        Ort::InitApi(table);
    return table;
}

} // namespace

const OrtApi &OrtRuntime::api()
{
    // Thread-safe one-time set-up; a library too old for the API version leaves
    // the table null and every engine construction then fails the same way.
    static const OrtApi *table = initialiseApi();
    if (!table) {
        throw Ort::Exception("ONNX Runtime " + std::string(OrtGetApiBase()->GetVersionString())
                                 + " does not provide API version " + std::to_string(apiVersion),
                             ORT_FAIL);
    }
    return *table;
}

OrtRuntime::OrtRuntime(const char *logId, std::optional<OrtLanguageProjection> projection)
    : logId(logId), projection(projection)
{
    // The wrappers release their objects through the API table, also the
    // empty ones an engine that never loaded a model leaves behind.
    api();
}

OrtRuntime::~OrtRuntime() = default;

void OrtRuntime::makeObjects()
{
    const std::lock_guard<std::mutex> lock(making);
    if (environment)
        return;
    api();
    // Made into locals first: a failure leaves nothing half made, and the next
    // call tries again.
    Ort::Env env(ORT_LOGGING_LEVEL_WARNING, logId);
    if (projection)
        Ort::ThrowOnError(api().SetLanguageProjection(env, *projection));
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(intraOpThreads);
    options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
#ifdef QUILLMARK_ORT_NO_ARENA
    // Instrumented test builds: every tensor gets an allocation of its own, so a
    // read past the end of one is caught by the address sanitizer.
    options.DisableCpuMemArena();
#endif
    sessionOptions = std::move(options);
    environment = std::move(env);
}

Ort::Env &OrtRuntime::env()
{
    makeObjects();
    return environment;
}

Ort::SessionOptions &OrtRuntime::options()
{
    makeObjects();
    return sessionOptions;
}

bool OrtRuntime::hasEnvironment() const
{
    const std::lock_guard<std::mutex> lock(making);
    return bool(environment);
}

std::unique_ptr<Ort::Session> OrtRuntime::createSession(const QString &modelPath)
{
    // Only a regular file is handed to the runtime: a named pipe would block
    // the loading thread for good and a device never ends. A model file holds
    // one protocol buffer, which cannot exceed 2 GiB (larger weights live in
    // files of their own beside it).
    const QFileInfo info(modelPath);
    if (!info.isFile())
        throw Ort::Exception("the model is not a regular file", ORT_NO_SUCHFILE);
    if (info.size() > largestModelFile)
        throw Ort::Exception("the model file is larger than 2 GiB", ORT_INVALID_PROTOBUF);
    const std::basic_string<ORTCHAR_T> path = toOrtPath(modelPath);
    return std::make_unique<Ort::Session>(env(), path.c_str(), options());
}

Ort::Value OrtRuntime::wrapFloatTensor(std::vector<float> &buffer, std::span<const int64_t> shape)
{
    size_t needed = 1;
    for (int64_t extent : shape) {
        if (extent < 0 || (extent > 0 && needed > buffer.size() / size_t(extent)))
            throw Ort::Exception("tensor shape does not fit its buffer", ORT_INVALID_ARGUMENT);
        needed *= size_t(extent);
    }
    if (needed > buffer.size())
        throw Ort::Exception("tensor shape does not fit its buffer", ORT_INVALID_ARGUMENT);
    const Ort::MemoryInfo memoryInfo = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    return Ort::Value::CreateTensor<float>(memoryInfo, buffer.data(), buffer.size(), shape.data(),
                                           shape.size());
}

std::vector<std::string> sessionInputNames(Ort::Session &session)
{
    Ort::AllocatorWithDefaultOptions allocator;
    std::vector<std::string> names;
    for (size_t i = 0; i < session.GetInputCount(); ++i)
        names.emplace_back(session.GetInputNameAllocated(i, allocator).get());
    return names;
}

std::vector<std::string> sessionOutputNames(Ort::Session &session)
{
    Ort::AllocatorWithDefaultOptions allocator;
    std::vector<std::string> names;
    for (size_t i = 0; i < session.GetOutputCount(); ++i)
        names.emplace_back(session.GetOutputNameAllocated(i, allocator).get());
    return names;
}

std::vector<const char *> namePointers(const std::vector<std::string> &names)
{
    std::vector<const char *> pointers;
    pointers.reserve(names.size());
    for (const std::string &name : names)
        pointers.push_back(name.c_str());
    return pointers;
}

QString joinedNames(const std::vector<std::string> &names)
{
    QStringList list;
    for (const std::string &name : names)
        list << QString::fromStdString(name);
    return list.join(QStringLiteral(", "));
}

bool keepEngineError(QString &error, const char *operation, const QString &message, bool log)
{
    error = message;
    if (log)
        qWarning("%s: %s", operation, qUtf8Printable(message));
    return false;
}

namespace {

std::vector<int64_t> tensorShape(const Ort::TypeInfo &type)
{
    if (type.GetONNXType() != ONNX_TYPE_TENSOR)
        return {};
    return type.GetTensorTypeAndShapeInfo().GetShape();
}

} // namespace

QStringList modelMetadataClassNames(Ort::Session &session)
{
    static const QRegularExpression quoted(QStringLiteral("['\"]([^'\"]+)['\"]"));
    QStringList result;
    try {
        Ort::AllocatorWithDefaultOptions allocator;
        const Ort::ModelMetadata metadata = session.GetModelMetadata();
        const auto keys = metadata.GetCustomMetadataMapKeysAllocated(allocator);
        for (const auto &key : keys) {
            if (std::string(key.get()) != "names")
                continue;
            const auto value = metadata.LookupCustomMetadataMapAllocated("names", allocator);
            if (!value)
                break;
            auto matches = quoted.globalMatch(QString::fromUtf8(value.get()));
            while (matches.hasNext())
                result.append(matches.next().captured(1));
            break;
        }
    } catch (const std::exception &) {
        // Unreadable metadata leaves the names read so far.
    }
    return result;
}

std::vector<int64_t> sessionInputShape(const Ort::Session &session, size_t index)
{
    return tensorShape(session.GetInputTypeInfo(index));
}

std::vector<int64_t> sessionOutputShape(const Ort::Session &session, size_t index)
{
    return tensorShape(session.GetOutputTypeInfo(index));
}

QString pictureInputProblem(const std::vector<int64_t> &shape)
{
    if (shape.empty())
        return {};
    QStringList extents;
    for (int64_t extent : shape)
        extents << (extent < 0 ? QStringLiteral("?") : QString::number(extent));
    const QString text = QLatin1Char('[') + extents.join(QLatin1Char(',')) + QLatin1Char(']');
    if (shape.size() != 4)
        return QStringLiteral("the model's input %1 is not a picture [1, 3, height, width]").arg(text);
    const bool channelsLast = shape[3] == 3 && shape[1] != 3;
    if (channelsLast || (shape[1] > 0 && shape[1] != 3)) {
        return QStringLiteral("the model's input %1 is not a planar RGB picture [1, 3, height, width]%2")
            .arg(text, channelsLast ? QStringLiteral(" (channels last)") : QString());
    }
    if (shape[2] > largestPictureInputSide || shape[3] > largestPictureInputSide)
        return QStringLiteral("the model's input of %1 x %2 pixels is too large").arg(shape[3]).arg(shape[2]);
    return {};
}

QString readPictureInputSize(const Ort::Session &session, int &width, int &height)
{
    const std::vector<int64_t> input = sessionInputShape(session, 0);
    if (const QString problem = pictureInputProblem(input); !problem.isEmpty())
        return problem;
    if (input.size() == 4 && input[2] > 0)
        height = int(input[2]);
    if (input.size() == 4 && input[3] > 0)
        width = int(input[3]);
    return {};
}

std::vector<Ort::Value> runOnPicture(Ort::Session &session, const std::string &inputName, std::vector<float> &tensor,
                                     int width, int height, const std::vector<std::string> &outputNames)
{
    const std::array<int64_t, 4> shape{1, 3, height, width};
    Ort::Value input = OrtRuntime::wrapFloatTensor(tensor, shape);
    const char *inputNames[] = {inputName.c_str()};
    const std::vector<const char *> names = namePointers(outputNames);
    return session.Run(Ort::RunOptions{nullptr}, inputNames, &input, 1, names.data(), names.size());
}

} // namespace Quillmark
