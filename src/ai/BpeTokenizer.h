#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Quillmark {

// Byte-level byte-pair-encoding tokenizer for the text prompts of concept
// segmentation, read from a tokenizer JSON file ("model": {"type": "BPE",
// "vocab": {...}, "merges": [...]}).
//
// Text is lower-cased, split into words, every byte of a word is written as one
// printable code point, and the word's symbols are merged pair by pair in the
// order of the merge list; the resulting symbols are looked up in the
// vocabulary. When the file's model declares an end-of-word suffix (CLIP-family
// vocabularies: "</w>"), the text first goes through the file's normalizer
// (Unicode composition first, then the other steps in order), the suffix is
// appended to each word's last symbol and words are split as the file's pre-tokenizer says (letters, single digits and
// runs of punctuation), so the ids are those of the model's own tokenizer.
class BpeTokenizer {
public:
    // One step of the text's normalisation before it is split into words.
    using Normaliser = std::function<QString(const QString &)>;

    // Token ids and attention mask of one prompt, both `length` values long.
    struct Encoding {
        std::vector<int64_t> ids;
        std::vector<int64_t> mask;
    };

    // Reads the tokenizer file; on failure nothing changes and lastError() says
    // why ("Cannot open: ...", "Invalid JSON: ...", "Expected BPE tokenizer, got: ...").
    bool load(const QString &path);

    // [start id, tokens..., end id, pad id...] and the mask (1 for the ids up to
    // the end id, 0 for the padding). Tokens beyond length - 2 are cut off.
    // Without a loaded file: only pad ids and a zero mask. `length` is at least 2.
    Encoding encode(const QString &text, int length) const;

    // The ids of the text's tokens, without start and end ids; at most `limit`
    // of them. Merging is quadratic in a word's length, so of a word longer
    // than `longestWord` bytes (a pasted blob, never a word of a prompt) only
    // its start is merged: a pasted line cannot hold the window for minutes.
    std::vector<int> tokenize(const QByteArray &utf8, size_t limit = SIZE_MAX) const;
    static constexpr size_t longestWord = 1024;

    bool isLoaded() const { return loaded; }
    QString lastError() const { return error; }
    int bosId() const { return bos; }
    int eosId() const { return eos; }
    int padId() const { return pad; }
    qsizetype vocabularySize() const { return qsizetype(vocab.size()); }
    qsizetype mergeCount() const { return qsizetype(mergeRanks.size()); }
    QString endOfWordSuffix() const { return QString::fromStdString(wordSuffix); }

    // The code point that stands for a byte in the vocabulary's texts: printable
    // bytes stand for themselves, the 68 others for 256, 257, ... in byte order.
    static char32_t byteToUnicode(unsigned char byte);

private:
    // Hash maps keyed by UTF-8 text, searchable with a string_view.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    using TextMap = std::unordered_map<std::string, int, TextHash, std::equal_to<>>;

    std::vector<std::string> splitWords(const QByteArray &utf8) const;
    std::vector<std::string> bpeWord(const std::string &mappedWord) const;

    TextMap vocab;
    TextMap mergeRanks;
    int bos = 49406;
    int eos = 49407;
    int pad = 0;
    bool loaded = false;
    QString error;
    // CLIP-style files: the suffix of a word's last symbol, the pre-split pattern
    // and the file's normalizer steps (composition, lower case, replacements)
    // applied in order before the split.
    std::string wordSuffix;
    QRegularExpression wordPattern;
    std::vector<Normaliser> normalisers;
};

} // namespace Quillmark
