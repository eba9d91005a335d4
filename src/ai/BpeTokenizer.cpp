#include "ai/BpeTokenizer.h"

#include "model/RegularFile.h"

#include <QFile>

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace Quillmark {

namespace {

// Tokenizer files are a few megabytes; anything far larger is not one.
constexpr qint64 largestTokenizerFile = qint64(64) * 1024 * 1024;

// The pre-split of CLIP-family tokenizers: contractions, runs of letters, single
// digits and runs of other non-blank characters.
const char defaultWordPattern[] = R"('s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+)";

constexpr std::array<char32_t, 256> buildByteTable()
{
    std::array<char32_t, 256> table{};
    char32_t next = 256;
    for (int b = 0; b < 256; ++b) {
        const bool printable = (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || (b >= 174 && b <= 255);
        table[size_t(b)] = printable ? char32_t(b) : next++;
    }
    return table;
}

constexpr std::array<char32_t, 256> byteTable = buildByteTable();

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp <= 0xFFFF) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// At most longestWord bytes of a word, cut before a UTF-8 continuation byte.
std::string_view wordStart(std::string_view word)
{
    if (word.size() <= BpeTokenizer::longestWord)
        return word;
    size_t cut = BpeTokenizer::longestWord;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80)
        --cut;
    return word.substr(0, cut);
}

// Length of the UTF-8 sequence a lead byte starts.
size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

// The value of a vocabulary entry: an integer in int's range, else 0.
int entryId(simdjson::dom::element value)
{
    int64_t integer = 0;
    if (value.get_int64().get(integer) == simdjson::SUCCESS)
        return integer >= INT_MIN && integer <= INT_MAX ? int(integer) : 0;
    double real = 0;
    if (value.get_double().get(real) == simdjson::SUCCESS && std::trunc(real) == real
        && real >= INT_MIN && real <= INT_MAX) {
        return int(real);
    }
    return 0;
}

// "left right" of a merge given as a string or as a two-element array; the
// empty text for anything else.
std::string mergeText(simdjson::dom::element entry)
{
    std::string_view text;
    if (entry.get_string().get(text) == simdjson::SUCCESS)
        return std::string(text);
    simdjson::dom::array pair;
    if (entry.get_array().get(pair) != simdjson::SUCCESS || pair.size() != 2)
        return {};
    std::string_view left;
    std::string_view right;
    if (pair.at(0).get_string().get(left) != simdjson::SUCCESS
        || pair.at(1).get_string().get(right) != simdjson::SUCCESS) {
        return {};
    }
    std::string joined;
    joined.reserve(left.size() + right.size() + 1);
    joined.append(left).append(1, ' ').append(right);
    return joined;
}

std::string_view stringField(simdjson::dom::element object, const char *key)
{
    std::string_view value;
    if (object[key].get_string().get(value) != simdjson::SUCCESS)
        return {};
    return value;
}

// The steps of a "Sequence" section (its array under listKey), or the section
// itself.
std::vector<simdjson::dom::element> sectionSteps(simdjson::dom::element section, const char *listKey)
{
    std::vector<simdjson::dom::element> steps;
    simdjson::dom::array list;
    if (stringField(section, "type") == "Sequence" && section[listKey].get_array().get(list) == simdjson::SUCCESS) {
        for (simdjson::dom::element step : list)
            steps.push_back(step);
    } else if (section.is_object()) {
        steps.push_back(section);
    }
    return steps;
}

// The regular expression of the file's "Split" pre-tokenizer, if it has one.
QString splitPattern(simdjson::dom::element root)
{
    simdjson::dom::element section;
    if (root["pre_tokenizer"].get(section) != simdjson::SUCCESS)
        return {};
    for (simdjson::dom::element step : sectionSteps(section, "pretokenizers")) {
        if (stringField(step, "type") != "Split")
            continue;
        simdjson::dom::element pattern;
        if (step["pattern"].get(pattern) != simdjson::SUCCESS)
            continue;
        const std::string_view regex = stringField(pattern, "Regex");
        if (!regex.empty())
            return QString::fromUtf8(regex.data(), qsizetype(regex.size()));
    }
    return {};
}

QString qtext(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool boolField(simdjson::dom::element object, const char *key, bool fallback)
{
    bool value = fallback;
    if (object[key].get(value) != simdjson::SUCCESS)
        return fallback;
    return value;
}

// One step of the file's "normalizer" section as a function on the text;
// empty for a step type this tokenizer does not know.
BpeTokenizer::Normaliser normaliserStep(simdjson::dom::element step)
{
    using Form = QString::NormalizationForm;
    const std::string_view type = stringField(step, "type");
    const auto unicodeForm = [](Form form) {
        return BpeTokenizer::Normaliser([form](const QString &text) { return text.normalized(form); });
    };
    if (type == "NFC")
        return unicodeForm(QString::NormalizationForm_C);
    if (type == "NFD")
        return unicodeForm(QString::NormalizationForm_D);
    if (type == "NFKC")
        return unicodeForm(QString::NormalizationForm_KC);
    if (type == "NFKD")
        return unicodeForm(QString::NormalizationForm_KD);
    if (type == "Lowercase")
        return [](const QString &text) { return text.toLower(); };
    if (type == "Strip") {
        const bool left = boolField(step, "strip_left", true);
        const bool right = boolField(step, "strip_right", true);
        return [left, right](const QString &text) {
            qsizetype first = 0;
            qsizetype end = text.size();
            while (left && first < end && text.at(first).isSpace())
                ++first;
            while (right && end > first && text.at(end - 1).isSpace())
                --end;
            return text.mid(first, end - first);
        };
    }
    if (type == "Replace") {
        simdjson::dom::element pattern;
        if (step["pattern"].get(pattern) != simdjson::SUCCESS)
            return {};
        const QString content = qtext(stringField(step, "content"));
        const std::string_view regex = stringField(pattern, "Regex");
        if (!regex.empty()) {
            const QRegularExpression expression(qtext(regex), QRegularExpression::UseUnicodePropertiesOption);
            if (!expression.isValid())
                return {};
            return [expression, content](const QString &text) { return QString(text).replace(expression, content); };
        }
        const QString literal = qtext(stringField(pattern, "String"));
        if (literal.isEmpty())
            return {};
        return [literal, content](const QString &text) { return QString(text).replace(literal, content); };
    }
    return {};
}

// The steps of the file's normalizer in order, the Unicode composition (NFC)
// first as the model's own tokenizer applies it, so text typed with combining
// accents gives the ids of the composed characters.
std::vector<BpeTokenizer::Normaliser> readNormalisers(simdjson::dom::element root)
{
    std::vector<BpeTokenizer::Normaliser> normalisers;
    simdjson::dom::element section;
    if (root["normalizer"].get(section) != simdjson::SUCCESS)
        return normalisers;
    std::vector<simdjson::dom::element> steps = sectionSteps(section, "normalizers");
    std::stable_partition(steps.begin(), steps.end(),
                          [](simdjson::dom::element step) { return stringField(step, "type") == "NFC"; });
    for (simdjson::dom::element step : steps) {
        BpeTokenizer::Normaliser normaliser = normaliserStep(step);
        if (normaliser)
            normalisers.push_back(std::move(normaliser));
        else
            qWarning("[BPE] ignoring the normalizer step of type \"%s\"", std::string(stringField(step, "type")).c_str());
    }
    return normalisers;
}

} // namespace

char32_t BpeTokenizer::byteToUnicode(unsigned char byte)
{
    return byteTable[byte];
}

bool BpeTokenizer::load(const QString &path)
{
    // A pipe or a device would block or never end: only a regular file of a
    // tokenizer's size is read, and never more of it than that size.
    QFile file;
    if (!openRegularFile(file, path)) {
        error = QStringLiteral("Cannot open: ") + path;
        return false;
    }
    if (file.size() > largestTokenizerFile) {
        error = QStringLiteral("Invalid JSON: ") + path;
        return false;
    }
    const QByteArray bytes = file.read(largestTokenizerFile + 1);
    file.close();
    if (bytes.size() > largestTokenizerFile) {
        error = QStringLiteral("Invalid JSON: ") + path;
        return false;
    }

    simdjson::dom::parser parser;
    simdjson::dom::element root;
    const simdjson::padded_string json(bytes.constData(), size_t(bytes.size()));
    if (parser.parse(json).get(root) != simdjson::SUCCESS || !root.is_object()) {
        error = QStringLiteral("Invalid JSON: ") + path;
        return false;
    }

    simdjson::dom::element model;
    const bool hasModel = root["model"].get(model) == simdjson::SUCCESS && model.is_object();
    const std::string_view type = hasModel ? stringField(model, "type") : std::string_view();
    if (type != "BPE") {
        error = QStringLiteral("Expected BPE tokenizer, got: ")
            + QString::fromUtf8(type.data(), qsizetype(type.size()));
        return false;
    }

    TextMap newVocab;
    simdjson::dom::object vocabObject;
    if (model["vocab"].get_object().get(vocabObject) == simdjson::SUCCESS) {
        newVocab.reserve(vocabObject.size());
        for (const simdjson::dom::key_value_pair field : vocabObject)
            newVocab.insert_or_assign(std::string(field.key), entryId(field.value));
    }

    TextMap newMerges;
    simdjson::dom::array mergeList;
    if (model["merges"].get_array().get(mergeList) == simdjson::SUCCESS) {
        newMerges.reserve(mergeList.size());
        int rank = 0;
        for (simdjson::dom::element entry : mergeList)
            newMerges.insert_or_assign(mergeText(entry), rank++);
    }

    vocab = std::move(newVocab);
    mergeRanks = std::move(newMerges);
    if (const auto it = vocab.find(std::string_view("<|startoftext|>")); it != vocab.end())
        bos = it->second;
    if (const auto it = vocab.find(std::string_view("<|endoftext|>")); it != vocab.end())
        eos = it->second;

    wordSuffix = std::string(stringField(model, "end_of_word_suffix"));
    wordPattern = QRegularExpression();
    normalisers.clear();
    if (!wordSuffix.empty()) {
        const QRegularExpression::PatternOptions options = QRegularExpression::UseUnicodePropertiesOption;
        wordPattern = QRegularExpression(splitPattern(root), options);
        if (wordPattern.pattern().isEmpty() || !wordPattern.isValid())
            wordPattern = QRegularExpression(QString::fromLatin1(defaultWordPattern), options);
        normalisers = readNormalisers(root);
    }
    loaded = true;
    error.clear();
    return true;
}

BpeTokenizer::Encoding BpeTokenizer::encode(const QString &text, int length) const
{
    Encoding result;
    const size_t size = size_t(std::max(length, 0));
    result.ids.assign(size, pad);
    result.mask.assign(size, 0);
    if (!loaded || length < 2)
        return result;

    const std::vector<int> tokens = tokenize(text.toUtf8(), size - 2);
    result.ids[0] = bos;
    std::copy(tokens.begin(), tokens.end(), result.ids.begin() + 1);
    result.ids[tokens.size() + 1] = eos;
    std::fill(result.mask.begin(), result.mask.begin() + std::ptrdiff_t(tokens.size() + 2), 1);
    return result;
}

std::vector<std::string> BpeTokenizer::splitWords(const QByteArray &utf8) const
{
    std::vector<std::string> words;
    if (!wordSuffix.empty()) {
        QString text = QString::fromUtf8(utf8);
        for (const Normaliser &normalise : normalisers)
            text = normalise(text);
        auto matches = wordPattern.globalMatch(text);
        while (matches.hasNext()) {
            const QByteArray word = matches.next().captured(0).toUtf8();
            if (!word.isEmpty())
                words.emplace_back(word.constData(), size_t(word.size()));
        }
        return words;
    }

    // Lower-case A to Z only, then split at blanks, tabs and line ends.
    std::string word;
    for (const char c : utf8) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
            continue;
        }
        word += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

std::vector<int> BpeTokenizer::tokenize(const QByteArray &utf8, size_t limit) const
{
    std::vector<int> ids;
    for (const std::string &word : splitWords(utf8)) {
        if (ids.size() >= limit)
            break;
        const std::string_view kept = wordStart(word);
        std::string mapped;
        mapped.reserve(kept.size() * 2 + wordSuffix.size());
        for (const char c : kept)
            appendUtf8(mapped, byteTable[static_cast<unsigned char>(c)]);
        for (const std::string &symbol : bpeWord(mapped)) {
            if (const auto it = vocab.find(symbol); it != vocab.end())
                ids.push_back(it->second);
        }
    }
    if (ids.size() > limit)
        ids.resize(limit);
    return ids;
}

std::vector<std::string> BpeTokenizer::bpeWord(const std::string &mappedWord) const
{
    std::vector<std::string> symbols;
    for (size_t i = 0; i < mappedWord.size();) {
        const size_t n = std::min(sequenceLength(static_cast<unsigned char>(mappedWord[i])), mappedWord.size() - i);
        symbols.emplace_back(mappedWord, i, n);
        i += n;
    }
    if (!symbols.empty())
        symbols.back() += wordSuffix;

    std::string key;
    while (symbols.size() >= 2) {
        int bestRank = INT_MAX;
        size_t best = 0;
        for (size_t i = 0; i + 1 < symbols.size(); ++i) {
            key.assign(symbols[i]).append(1, ' ').append(symbols[i + 1]);
            const auto it = mergeRanks.find(key);
            if (it != mergeRanks.end() && it->second < bestRank) {
                bestRank = it->second;
                best = i;
            }
        }
        if (bestRank == INT_MAX)
            break;

        // Merge every non-overlapping occurrence of the winning pair, left to right.
        const std::string left = symbols[best];
        const std::string right = symbols[best + 1];
        std::vector<std::string> merged;
        merged.reserve(symbols.size());
        for (size_t i = 0; i < symbols.size();) {
            if (i + 1 < symbols.size() && symbols[i] == left && symbols[i + 1] == right) {
                merged.push_back(left + right);
                i += 2;
            } else {
                merged.push_back(std::move(symbols[i]));
                ++i;
            }
        }
        symbols = std::move(merged);
    }
    return symbols;
}

} // namespace Quillmark
