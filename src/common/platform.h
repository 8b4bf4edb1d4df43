#pragma once
// What a computation may ask of whoever runs it: files chosen by the user, messages shown,
// a chance to keep the interface alive or to stop, and a seed. Front ends implement it;
// the core never talks to a terminal or a window directly.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace zelk {

class Platform {
 public:
  virtual ~Platform() = default;

  // The open dialog; an empty result means the user cancelled.
  virtual std::optional<std::filesystem::path> chooseFileToOpen(std::string_view title) = 0;
  // The save dialog, offering a suggested file name and a file type.
  virtual std::optional<std::filesystem::path> chooseFileToSave(std::string_view suggestedName,
                                                                std::string_view fileType) = 0;
  // A modal message box. The computation goes on after it.
  virtual void showMessage(std::string_view text) = 0;
  // Lets the interface process pending events. A point where a run may be cancelled.
  virtual void processEvents() = 0;
  virtual bool cancelled() const = 0;
  // A seed for a run's random generator: from the clock unless the user fixed one.
  virtual std::uint64_t seed() = 0;
};

}  // namespace zelk
