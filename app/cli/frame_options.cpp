#include "app/cli/frame_options.h"

#include <array>
#include <charconv>

#include "app/cli/replay.h"

namespace cli {

namespace {

constexpr std::array<const char*, osc::kChannelCount> kShortNames = {"strobe", "tx", "rx1", "rx2"};

std::optional<int> lengthValue(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < 1 || n > (1 << 20)) {
        return std::nullopt;
    }
    return n;
}

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string summaryLine(const std::string& what, const osc::FrameCounts& n) {
    std::string out = what + ": ";
    appendNumber(out, static_cast<long long>(n.frames));
    out += " frames, ";
    appendNumber(out, static_cast<long long>(n.good));
    out += " good, ";
    appendNumber(out, static_cast<long long>(n.bad));
    out += " bad";
    std::string kinds;
    for (int e = 1; e < osc::kFrameErrorCount; ++e) {
        const std::uint64_t count = n.byError[static_cast<std::size_t>(e)];
        if (count != 0) {
            kinds += kinds.empty() ? " (" : ", ";
            kinds += osc::frameErrorName(static_cast<osc::FrameError>(e));
            kinds += ' ';
            appendNumber(kinds, static_cast<long long>(count));
        }
    }
    if (!kinds.empty()) {
        kinds += ')';
    }
    return out + kinds + '\n';
}

}  // namespace

std::optional<int> channelNumber(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const int n = t.toInt(&ok);
    if (ok) {
        return n >= 0 && n < osc::kChannelCount ? std::optional<int>(n) : std::nullopt;
    }
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (t.compare(QString::fromUtf8(osc::kChannels[i].name), Qt::CaseInsensitive) == 0 ||
            t.compare(QString::fromLatin1(kShortNames[i]), Qt::CaseInsensitive) == 0) {
            return c;
        }
    }
    return std::nullopt;
}

FrameDecoderOptions::FrameDecoderOptions(QCommandLineParser& parser)
    : channel_(QStringLiteral("channel"),
               QStringLiteral("A channel to decode: 0 to 3, its name or strobe, tx, rx1, rx2; may "
                              "be repeated (default: 1, 2 and 3)."),
               QStringLiteral("C")),
      invert_(QStringLiteral("invert"), QStringLiteral("Every line bit is inverted.")),
      msb_(QStringLiteral("msb-first"),
           QStringLiteral("The first bit of a byte is its most significant bit.")),
      noStuffing_(QStringLiteral("no-stuffing"),
                  QStringLiteral("The 0 after five 1s is data, not stuffing.")),
      check_(QStringLiteral("check"),
             QStringLiteral("Frame check: x25 (default), ccitt-false, crc32, none, or auto (the "
                            "one that fits most frames of a channel)."),
             QStringLiteral("CHECK"), QStringLiteral("x25")),
      min_(QStringLiteral("min-length"),
           QStringLiteral("Fewest bytes of a frame, check included (default 2)."),
           QStringLiteral("N"), QStringLiteral("2")),
      max_(QStringLiteral("max-length"),
           QStringLiteral("Most bytes of a frame; longer ones are reported too long (default "
                          "4096)."),
           QStringLiteral("N"), QStringLiteral("4096")) {
    parser.addOptions({channel_, invert_, msb_, noStuffing_, check_, min_, max_});
}

int FrameDecoderOptions::read(const QCommandLineParser& parser, const QStringList& args,
                              FrameDecoderChoice& choice) const {
    if (parser.isSet(channel_)) {
        choice.channels = 0;
        for (const QString& value : parser.values(channel_)) {
            for (const QString& one : value.split(QLatin1Char(','))) {
                const std::optional<int> c = channelNumber(one);
                if (!c) {
                    return usageError(parser, args,
                                      QStringLiteral("Unknown channel '%1': --channel takes 0 to "
                                                     "3 or a channel's name.")
                                          .arg(one));
                }
                choice.channels |= 1u << *c;
            }
        }
    }
    osc::FrameOptions& o = choice.options;
    o.invert = parser.isSet(invert_);
    o.order = parser.isSet(msb_) ? osc::BitOrder::MsbFirst : osc::BitOrder::LsbFirst;
    o.stuffing = !parser.isSet(noStuffing_);
    const QString check = parser.value(check_).trimmed().toLower();
    bool known = false;
    for (const osc::FrameCheck c :
         {osc::FrameCheck::X25, osc::FrameCheck::CcittFalse, osc::FrameCheck::Crc32,
          osc::FrameCheck::None, osc::FrameCheck::Auto}) {
        if (check == QString::fromLatin1(osc::frameCheckName(c).data(),
                                         static_cast<qsizetype>(osc::frameCheckName(c).size()))) {
            o.check = c;
            known = true;
        }
    }
    if (!known) {
        return usageError(parser, args,
                          QStringLiteral("--check takes x25, ccitt-false, crc32, none or auto."));
    }
    const std::optional<int> minLength = lengthValue(parser.value(min_));
    const std::optional<int> maxLength = lengthValue(parser.value(max_));
    if (!minLength || !maxLength) {
        return usageError(parser, args,
                          QStringLiteral("--min-length and --max-length take 1 to 1048576."));
    }
    o.minLength = *minLength;
    o.maxLength = *maxLength;
    return -1;
}

FrameCliOptions::FrameCliOptions(QCommandLineParser& parser)
    : decoder_(parser),
      addressBytes_(QStringLiteral("address-bytes"),
                    QStringLiteral("The address field of a frame: 0 (none), 1 byte (default), 2 "
                                   "bytes, or extended (bytes up to the first with its low bit "
                                   "set, at most 4)."),
                    QStringLiteral("N"), QStringLiteral("1")),
      modulo_(QStringLiteral("modulo"),
              QStringLiteral("Sequence numbers modulo 8 (one control byte, default) or 128 (two "
                             "control bytes in I and S frames)."),
              QStringLiteral("M"), QStringLiteral("8")),
      primary_(QStringLiteral("primary"),
               QStringLiteral("The primary station's line: its frames are commands, those of the "
                              "other data lines responses (default 1, Передача)."),
               QStringLiteral("CHANNEL"), QStringLiteral("1")),
      timeout_(QStringLiteral("answer-timeout"),
               QStringLiteral("An answer starts within this many bits of its command's end; a "
                              "poll with nothing on the response lines by then gets no_answer, "
                              "also at the end of the capture (default 0: no timeout, a poll "
                              "waits for the next command)."),
               QStringLiteral("BITS"), QStringLiteral("0")),
      format_(QStringLiteral("format"), QStringLiteral("text (default), csv or json."),
              QStringLiteral("FORMAT"), QStringLiteral("text")) {
    parser.addOptions({addressBytes_, modulo_, primary_, timeout_, format_});
}

int FrameCliOptions::read(const QCommandLineParser& parser, const QStringList& args,
                          FrameCliRequest& request) const {
    FrameDecoderChoice choice;
    if (const int status = decoder_.read(parser, args, choice); status >= 0) {
        return status;
    }
    request.decoder = choice.options;
    request.channels = choice.channels;

    osc::LinkOptions& l = request.link;
    const QString address = parser.value(addressBytes_).trimmed().toLower();
    if (address == QLatin1String("0")) {
        l.address = osc::AddressMode::None;
    } else if (address == QLatin1String("1")) {
        l.address = osc::AddressMode::One;
    } else if (address == QLatin1String("2")) {
        l.address = osc::AddressMode::Two;
    } else if (address == QLatin1String("extended")) {
        l.address = osc::AddressMode::Extended;
    } else {
        return usageError(parser, args,
                          QStringLiteral("--address-bytes takes 0, 1, 2 or extended."));
    }
    const QString modulo = parser.value(modulo_).trimmed();
    if (modulo == QLatin1String("8") || modulo == QLatin1String("128")) {
        l.modulo = modulo.toInt();
    } else {
        return usageError(parser, args, QStringLiteral("--modulo takes 8 or 128."));
    }
    const std::optional<int> primary = channelNumber(parser.value(primary_));
    if (!primary) {
        return usageError(parser, args,
                          QStringLiteral("Unknown channel '%1': --primary takes 0 to 3 or a "
                                         "channel's name.")
                              .arg(parser.value(primary_)));
    }
    l.primary = *primary;
    bool ok = false;
    const qulonglong timeout = parser.value(timeout_).trimmed().toULongLong(&ok);
    if (!ok || timeout > osc::kMaxAnswerTimeout) {
        return usageError(parser, args,
                          QStringLiteral("--answer-timeout takes a whole number of bits, 0 to "
                                         "%1.")
                              .arg(static_cast<qulonglong>(osc::kMaxAnswerTimeout)));
    }
    l.answerTimeout = timeout;

    const QString format = parser.value(format_).trimmed().toLower();
    if (format == QLatin1String("text")) {
        request.format = osc::FrameListFormat::Text;
    } else if (format == QLatin1String("csv")) {
        request.format = osc::FrameListFormat::Csv;
    } else if (format == QLatin1String("json")) {
        request.format = osc::FrameListFormat::Json;
    } else {
        return usageError(parser, args, QStringLiteral("--format takes text, csv or json."));
    }
    return -1;
}

std::string frameSummary(const osc::CaptureFrames& frames, unsigned channels) {
    std::string out;
    osc::FrameCounts total;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if ((channels & (1u << c)) == 0) {
            continue;
        }
        const osc::FrameCounts n = frames.counts(c);
        std::string what = "channel ";
        appendNumber(what, c);
        what += ' ';
        what += osc::kChannels[static_cast<std::size_t>(c)].name;
        what += " (";
        what += osc::frameCheckName(frames.checkInUse(c));
        what += ')';
        out += summaryLine(what, n);
        total.frames += n.frames;
        total.good += n.good;
        total.bad += n.bad;
        for (std::size_t e = 0; e < total.byError.size(); ++e) {
            total.byError[e] += n.byError[e];
        }
    }
    return out + summaryLine("total", total);
}

}  // namespace cli
