#include "ai/OrtRuntime.h"

#include <QFile>

#include <array>
#include <string>

namespace Quillmark {

namespace {

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

OrtRuntime::OrtRuntime(const char *logId)
{
    api();
    environment = Ort::Env(ORT_LOGGING_LEVEL_WARNING, logId);
    sessionOptions = Ort::SessionOptions();
    sessionOptions.SetIntraOpNumThreads(intraOpThreads);
    sessionOptions.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
#ifdef QUILLMARK_ORT_NO_ARENA
    // Instrumented test builds: every tensor gets an allocation of its own, so a
    // read past the end of one is caught by the address sanitizer.
    sessionOptions.DisableCpuMemArena();
#endif
}

OrtRuntime::~OrtRuntime() = default;

std::unique_ptr<Ort::Session> OrtRuntime::createSession(const QString &modelPath)
{
    const std::basic_string<ORTCHAR_T> path = toOrtPath(modelPath);
    return std::make_unique<Ort::Session>(environment, path.c_str(), sessionOptions);
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

std::string OrtRuntime::inputName(const Ort::Session &session, size_t index)
{
    Ort::AllocatorWithDefaultOptions allocator;
    return session.GetInputNameAllocated(index, allocator).get();
}

std::string OrtRuntime::outputName(const Ort::Session &session, size_t index)
{
    Ort::AllocatorWithDefaultOptions allocator;
    return session.GetOutputNameAllocated(index, allocator).get();
}

namespace {

std::vector<int64_t> tensorShape(const Ort::TypeInfo &type)
{
    if (type.GetONNXType() != ONNX_TYPE_TENSOR)
        return {};
    return type.GetTensorTypeAndShapeInfo().GetShape();
}

} // namespace

std::vector<int64_t> OrtRuntime::inputShape(const Ort::Session &session, size_t index)
{
    return tensorShape(session.GetInputTypeInfo(index));
}

std::vector<int64_t> OrtRuntime::outputShape(const Ort::Session &session, size_t index)
{
    return tensorShape(session.GetOutputTypeInfo(index));
}

QString OrtRuntime::readPictureInputSize(const Ort::Session &session, int &width, int &height)
{
    const std::vector<int64_t> input = inputShape(session, 0);
    if (input.size() != 4)
        return {};
    if (input[1] > 0 && input[1] != 3) {
        return QStringLiteral("the model's input [%1,%2,%3,%4] is not a planar RGB picture [1,3,H,W]")
            .arg(input[0]).arg(input[1]).arg(input[2]).arg(input[3]);
    }
    if (input[2] > largestInputSide || input[3] > largestInputSide)
        return QStringLiteral("the model's input of %1 x %2 pixels is too large").arg(input[3]).arg(input[2]);
    if (input[2] > 0)
        height = int(input[2]);
    if (input[3] > 0)
        width = int(input[3]);
    return {};
}

std::vector<Ort::Value> OrtRuntime::runOnPicture(Ort::Session &session, const std::string &inputName,
                                                 std::vector<float> &tensor, int width, int height,
                                                 const std::vector<std::string> &outputNames)
{
    const std::array<int64_t, 4> shape{1, 3, height, width};
    Ort::Value input = wrapFloatTensor(tensor, shape);
    const char *inputNames[] = {inputName.c_str()};
    std::vector<const char *> names;
    names.reserve(outputNames.size());
    for (const std::string &name : outputNames)
        names.push_back(name.c_str());
    return session.Run(Ort::RunOptions{nullptr}, inputNames, &input, 1, names.data(), names.size());
}

} // namespace Quillmark
