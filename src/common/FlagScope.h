// TFlagScope: sets a flag for the life of a scope and clears it on every way out, an error
// included, so a guard flag (the main window asking to close, the job files asking to replace)
// never stays set.
#pragma once

class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};
