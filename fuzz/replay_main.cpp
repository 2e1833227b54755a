// Runs a fuzz target over every file of a corpus folder (or over the files given), so that the
// seed corpus is exercised in every build, also without libFuzzer. Takes libFuzzer's
// -max_len=N (longer inputs are cut to N bytes, as the fuzzer cuts them) and -timeout=N (an
// input that takes more than N seconds is a finding: the run stops with its name); other
// options of that form are ignored.
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::size_t maxLen = 0;        // 0: no limit
unsigned timeoutSeconds = 0;   // 0: none
char currentInput[4096] = "";  // for the timeout's message

void onTimeout(int) {
    constexpr std::string_view kHead = "timeout: more than the allowed seconds on input ";
    (void)!::write(2, kHead.data(), kHead.size());
    (void)!::write(2, currentInput, std::strlen(currentInput));
    (void)!::write(2, "\n", 1);
    ::_exit(70);
}

int runBytes(const std::string& name, std::vector<std::uint8_t> bytes) {
    if (maxLen != 0 && bytes.size() > maxLen) {
        bytes.resize(maxLen);
    }
    std::snprintf(currentInput, sizeof currentInput, "%s", name.c_str());
    if (timeoutSeconds != 0) {
        ::alarm(timeoutSeconds);
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ::alarm(0);
    return 0;
}

int runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    return runBytes(path.string(),
                    std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

// -name=N: true and N when arg is that option with a whole number.
bool option(std::string_view arg, std::string_view name, unsigned long& value) {
    if (arg.substr(0, name.size()) != name) {
        return false;
    }
    value = std::strtoul(std::string(arg.substr(name.size())).c_str(), nullptr, 10);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    struct sigaction sa {};
    sa.sa_handler = onTimeout;
    ::sigaction(SIGALRM, &sa, nullptr);
    int files = 0;
    int failures = 0;
    std::vector<std::filesystem::path> inputs;
    for (int a = 1; a < argc; ++a) {
        const std::string_view arg(argv[a]);
        unsigned long value = 0;
        if (option(arg, "-max_len=", value)) {
            maxLen = value;
        } else if (option(arg, "-timeout=", value)) {
            timeoutSeconds = static_cast<unsigned>(value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            continue;  // another of libFuzzer's options
        } else {
            inputs.emplace_back(arg);
        }
    }
    for (const std::filesystem::path& arg : inputs) {
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    failures += runFile(entry.path());
                    ++files;
                }
            }
        } else {
            failures += runFile(arg);
            ++files;
        }
    }
    // Always feed the empty input as well.
    runBytes("(empty)", {});
    std::printf("replayed %d inputs\n", files + 1);
    return failures == 0 ? 0 : 1;
}
