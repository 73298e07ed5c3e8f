// What the XML drivers report to the reading of a DAT that both platforms share: dat_posix.cpp
// reads with expat, dat_win.cpp with XmlLite; entries, roms and their attributes are read here.
#pragma once

#include "dat.h"

namespace verify {

class DatReader {
  public:
    // Clears `dat` and fills it as elements come.
    explicit DatReader(Dat& dat);

    // `attributes` holds UTF-8 name and value pairs, then a null pointer.
    void StartElement(const char* name, const char* const* attributes);
    void EndElement();
    // Ends the reading with the drivers' verdict in `result`: a text that was refused, or that
    // has no entry, keeps no entry.
    void Finish(DatLoad& result);

  private:
    Dat& dat_;
    DatEntry entry_;
    int entryDepth_ = -1;  // depth of the open entry element, -1 when none is open
    int depth_ = 0;
};

}  // namespace verify
