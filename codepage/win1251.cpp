#include "codepage/win1251.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace codepage {

namespace {

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        // iconv_open reports failure as (iconv_t)-1.
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts the text; at an input sequence that cannot be converted, appends replacement
    // and skips skipLength(sequence) bytes.
    template <typename SkipLength>
    std::string convert(std::string_view in, std::string_view replacement, SkipLength skipLength) {
        std::string out;
        out.reserve(in.size() * 2 + 8);
        char buffer[1024];
        std::size_t pos = 0;
        while (pos < in.size()) {
            char* inPtr = const_cast<char*>(in.data() + pos);
            std::size_t inLeft = in.size() - pos;
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            pos = in.size() - inLeft;
            if (rc != static_cast<std::size_t>(-1)) {
                continue;
            }
            if (error == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut at the end): replace and go on.
            out.append(replacement);
            pos += skipLength(in.substr(pos));
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t cd_;
};

std::size_t oneByte(std::string_view) {
    return 1;
}

// Length of the UTF-8 sequence that starts the text, as its lead byte tells; 1 for a byte that
// cannot lead or a sequence cut short or broken.
std::size_t utf8SequenceLength(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    std::size_t n = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
    }
    if (n > s.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return n;
}

}  // namespace

std::string Win1251ToUtf8(std::string_view bytes) {
    Converter c("UTF-8", "CP1251");
    return c.convert(bytes, "\xEF\xBF\xBD", oneByte);
}

std::string Utf8ToWin1251(std::string_view utf8) {
    Converter c("CP1251", "UTF-8");
    return c.convert(utf8, "?", utf8SequenceLength);
}

}  // namespace codepage
