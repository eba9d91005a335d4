#include "ai/PictureInference.h"

#include "ai/ImagePreprocessing.h"

#include <stdexcept>

namespace Quillmark {

PictureInference inferOnPicture(Ort::Session &session, const std::string &inputName, const QImage &picture, int width,
                                int height, const std::vector<std::string> &outputNames)
{
    const LetterboxResult letterbox = letterboxImage(picture, width, height);
    std::vector<float> tensor = imageToChwTensor(letterbox.image);
    if (tensor.empty())
        throw std::runtime_error("the picture could not be converted");
    PictureInference result;
    result.outputs = runOnPicture(session, inputName, tensor, width, height, outputNames);
    result.mapping = letterboxMapping(letterbox, picture.size());
    return result;
}

QString pictureRunRefusal(bool modelReady, const QImage &picture, const QString &noModel)
{
    if (!modelReady)
        return noModel;
    if (picture.isNull())
        return QStringLiteral("no picture to run on");
    return {};
}

} // namespace Quillmark
