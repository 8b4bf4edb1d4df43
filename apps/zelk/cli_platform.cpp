#include "cli_platform.h"

#include "interrupt.h"

#include <unistd.h>

#include <cstdio>
#include <random>

namespace zelk::cli {
namespace {

std::uint64_t clockSeed() {
  std::random_device device;
  const auto ticks = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  return (static_cast<std::uint64_t>(device()) << 32) ^ ticks;
}

// Writes text to a stream, each carriage return as a newline.
void writeTranslated(std::FILE* stream, std::string_view text) {
  for (const char c : text) std::fputc(c == '\r' ? '\n' : c, stream);
}

}  // namespace

CliPlatform::CliPlatform(std::optional<std::uint64_t> fixedSeed)
    : seed_(fixedSeed ? *fixedSeed : clockSeed()) {}

void CliPlatform::answerOpen(std::string title, std::filesystem::path path, bool everyTime) {
  openAnswers_[std::move(title)] = {std::move(path), everyTime};
}

void CliPlatform::answerSave(std::string suggestedName, std::filesystem::path path) {
  saveAnswers_[std::move(suggestedName)] = std::move(path);
}

std::optional<std::filesystem::path> CliPlatform::chooseFileToOpen(std::string_view title) {
  // An answer serves once unless it was given for every time: asking again (a dataset to
  // reopen, say) is then a cancelled dialog.
  const auto found = openAnswers_.find(title);
  if (found == openAnswers_.end()) return std::nullopt;
  auto path = found->second.path;
  if (!found->second.everyTime) openAnswers_.erase(found);
  return path;
}

std::optional<std::filesystem::path> CliPlatform::chooseFileToSave(std::string_view suggestedName,
                                                                   std::string_view) {
  const auto found = saveAnswers_.find(suggestedName);
  if (found == saveAnswers_.end()) return std::nullopt;
  return found->second;
}

void CliPlatform::showMessage(std::string_view text) {
  std::fflush(stdout);
  std::fputs("zelk: ", stderr);
  writeTranslated(stderr, text);
  std::fputc('\n', stderr);
}

bool CliPlatform::cancelled() const {
  return interruptRequested();
}

TerminalProgress::TerminalProgress(bool quiet)
    : quiet_(quiet), terminal_(isatty(STDERR_FILENO) != 0) {}

TerminalProgress::~TerminalProgress() {
  hide();
}

void TerminalProgress::show(std::string_view title, std::int32_t barMaximum) {
  if (quiet_) return;
  title_ = title;
  maximum_ = barMaximum;
  value_ = 0;
  started_ = std::chrono::steady_clock::now();
  if (!terminal_) {
    // In a log, one line per stage is enough.
    if (title_ != lastPrintedTitle_) {
      std::fprintf(stderr, "%s\n", title_.c_str());
      lastPrintedTitle_ = title_;
    }
    return;
  }
  visible_ = true;
  draw(true);
}

void TerminalProgress::setValue(std::string_view title, std::int32_t barValue) {
  if (quiet_ || !terminal_) return;
  title_ = title;
  value_ = barValue;
  visible_ = true;
  draw(false);
}

void TerminalProgress::hide() {
  if (quiet_ || !terminal_ || !visible_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  visible_ = false;
}

void TerminalProgress::draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  constexpr int kWidth = 30;
  char bar[kWidth + 16];
  if (maximum_ > 0) {
    const double fraction = std::min(1.0, std::max(0.0, static_cast<double>(value_) / maximum_));
    const int filled = static_cast<int>(fraction * kWidth);
    char cells[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) cells[i] = i < filled ? '#' : ' ';
    cells[kWidth] = '\0';
    std::snprintf(bar, sizeof bar, "[%s] %d%%", cells, static_cast<int>(fraction * 100));
  } else {
    static constexpr char kSpin[] = {'|', '/', '-', '\\'};
    std::snprintf(bar, sizeof bar, "%c", kSpin[spinner_++ % 4]);
  }
  std::fprintf(stderr, "\r\033[K%s %s %.0fs", title_.c_str(), bar, seconds);
  std::fflush(stderr);
}

void StandardOutput::append(std::string_view text) {
  writeTranslated(stdout, text);
}

void StandardOutput::lineEnded() {
  std::fflush(stdout);
}

}  // namespace zelk::cli
