#include "app/cli/frame_options.h"

#include <array>

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

}  // namespace cli
