#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

// The "data.yaml" of the YOLO family: class names and, for pose datasets, the
// keypoint shape. One reader serves every YOLO-family handler.

struct YoloDataYaml {
    QString path;            // the yaml file read; empty when there is none
    QStringList names;       // class names at their class ids
    // "display_names": the class names as the project spells them, where
    // "names" must spell them otherwise (a DOTA name holds no space); empty
    // when absent.
    QStringList displayNames;
    int keypointCount = 0;   // "kpt_shape: [K, D]": K, 0 when absent
    int keypointDims = 0;    // D (2 or 3), 0 when absent

    bool exists() const { return !path.isEmpty(); }
    bool hasKeypointShape() const { return keypointCount > 0; }
};

// The yaml file of a YOLO folder: "data.yaml" when it exists, else the first
// "*.yaml" / "*.yml" file (by name, ignoring case) whose first 4096 bytes
// contain "names:" or, failing that, "nc:". Empty when none qualifies.
QString findYoloDataYaml(const QString &folder);

// Reads a yaml file. Names may come in any of the three usual forms: an inline
// list ("names: [a, 'b']"), a dash list, or an index map ("0: person"); in the
// map form a name stands at its index and missing indices read "class_%1".
// A file that is not valid YAML is scanned leniently for the same forms. At
// most kMaxClassNames names are read; a larger index (a hostile
// "1000000000: x") is ignored, so the list never grows past that. An
// unreadable file gives an empty result (with its path kept).
YoloDataYaml readYoloDataYaml(const QString &yamlPath);

// findYoloDataYaml + readYoloDataYaml; an empty result when there is no yaml.
YoloDataYaml loadYoloDataYaml(const QString &folder);

// Only the class names of readYoloDataYaml.
QStringList parseYoloYamlNames(const QString &yamlPath);

// Writing. Text that YAML would read back as something else (a number, a
// boolean, null, a comment, a mapping, ...) is quoted; plain text is kept bare.
QString yamlScalar(const QString &text);

// Always quoted: single quotes with an inner ' doubled, or double quotes with
// escapes when the text holds control characters. "cat" gives 'cat'.
QString yamlQuoted(const QString &text);

// A flow list of quoted names: "['cat', 'dog']".
QString yamlQuotedList(const QStringList &names);

// The first line of every data.yaml the exports write. A trainer resolves
// the folders a data.yaml names against its "path", and a relative "path"
// against the folder the trainer is started from; without "path" it takes the
// folder of the data.yaml. So the exports write no "path" and name every
// folder relative to the data.yaml, and the dataset trains wherever it is
// copied to.
QString dataYamlRootComment();

// The "flip_idx" of a pose dataset: for each of `count` keypoints the index
// of the keypoint it turns into when the picture is mirrored left to right,
// the one whose name says the other side ("left_eye" and "right_eye",
// "mouth_left" and "mouth_right", "l_knee" and "r_knee", "leftHand" and
// "rightHand"), else itself. Keypoints beyond the names keep their place.
QList<int> keypointFlipIndex(const QStringList &keypointNames, int count);

// The "kpt_shape" line and the "flip_idx" line of a pose data.yaml for
// `count` keypoints of three values each.
QString yamlKeypointShape(const QStringList &keypointNames, int count);

// The image folders a data.yaml names for `train`, `val` and `test`: the
// folder of each subset written, `pattern` taking the subset's name as %1.
// Without a valid subset the training pictures validate, as a YOLO trainer
// needs a "val" entry; "test" is empty when no test subset was written.
QStringList subsetImageFolders(const QString &pattern, const QStringList &written);

} // namespace Quillmark
