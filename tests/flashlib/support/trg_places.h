#pragma once
// A throw-away installation for TRG tests: <root>/bin/Quorvel is the program (so <root>/bin/
// is the program directory and <root>/TRG the "..\TRG" place) and the current user's registry
// is a private one. Everything is removed again and the process settings restored on
// destruction.
#include <memory>
#include <string>

#include "brindlex/target_info.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/temp_dir.h"
#include "support/user_settings.h"

class TrgPlaces {
  public:
    TrgPlaces();
    ~TrgPlaces();
    TrgPlaces(const TrgPlaces&) = delete;
    TrgPlaces& operator=(const TrgPlaces&) = delete;

    const std::string& Root() const { return root.path(); }
    std::string ProgramDir() const { return root / "bin" + plat::kPathSeparator; }
    std::string SiblingTrgDir() const { return root / "TRG" + plat::kPathSeparator; }

    // Writes content to dir/name, creating dir when needed.
    static void Put(const std::string& dir, const std::string& name, const std::string& content);
    // Sets TrgPath under Software\Ostrel\Zeph, of type REG_SZ or (Windows) REG_EXPAND_SZ.
    static void SetTrgPath(const std::string& value, uint32_t type = plat::REG_SZ);

  private:
    testing_support::TempDir root;
    testing_support::PrivateUserSettings settings{root / "config"};
};

struct TrgSetDeleter {
    void operator()(TRGINFO* set) const;
};
// A set returned by ReadTargetInfoFile, handed back through DeleteTargetInfoSet.
using TrgSet = std::unique_ptr<TRGINFO, TrgSetDeleter>;
