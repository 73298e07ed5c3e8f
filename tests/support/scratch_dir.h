// A fresh folder for one test, removed with everything in it afterwards, and a few file helpers.
#pragma once

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "image_model.h"

namespace testing_support {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> Names() const;

  private:
    std::string path_;
};

// The names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> NamesIn(const std::string& folder);

bool Exists(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// Random bytes, as many as asked.
model::Bytes RandomBytes(std::mt19937& random, size_t size);

}  // namespace testing_support
