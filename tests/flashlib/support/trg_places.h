#pragma once
// A throw-away installation for TRG tests: <root>/bin/Quorvel is the program (so <root>/bin/
// is the program directory and <root>/TRG the "..\TRG" place) and <root>/config holds the
// registry. Everything is removed again and the process settings restored on destruction.
#include <memory>
#include <string>

#include "brindlex/target_info.h"

class TrgPlaces {
  public:
    TrgPlaces();
    ~TrgPlaces();
    TrgPlaces(const TrgPlaces&) = delete;
    TrgPlaces& operator=(const TrgPlaces&) = delete;

    const std::string& Root() const { return root; }
    std::string ProgramDir() const { return root + "/bin/"; }
    std::string SiblingTrgDir() const { return root + "/TRG/"; }

    // Writes content to dir/name, creating dir when needed.
    static void Put(const std::string& dir, const std::string& name, const std::string& content);
    // Sets TrgPath under Software\Ostrel\Zeph.
    static void SetTrgPath(const std::string& value);

  private:
    std::string root;
    std::string savedConfigHome;
    bool hadConfigHome = false;
};

struct TrgSetDeleter {
    void operator()(TRGINFO* set) const;
};
// A set returned by ReadTargetInfoFile, handed back through DeleteTargetInfoSet.
using TrgSet = std::unique_ptr<TRGINFO, TrgSetDeleter>;
