// The utility's application object: it runs the main dialog once and ends the program.
#pragma once

#include "model.h"

class SetupApp {
  public:
    explicit SetupApp(const setup::SetupModel& model = setup::ModelA()) : model_(model) {}
    // Registers the icons, runs the main dialog modally; the program's exit code.
    int Run();

  private:
    const setup::SetupModel& model_;
};
