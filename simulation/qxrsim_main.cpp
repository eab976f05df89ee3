// qxrsim: shows, before deployment, how the QxrSync service would keep a drifting PC clock on
// the card, over hours or weeks and through GPS outages, by running the service's own code on
// a simulated PC in virtual time.
#include <iostream>

#include "simulation/log_plot.h"
#include "simulation/options.h"
#include "simulation/sync_simulation.h"

int main(int argc, char** argv) {
    using namespace qxr::simulation;
    RunOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::cerr << "qxrsim: " << error << "\n";
        return 2;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.list) {
        for (const Scenario& s : NamedScenarios())
            std::cout << s.name << "  " << s.description << "\n";
        return 0;
    }
    if (!options.plotLogPath.empty()) {
        return PlotTrackingLog(options.plotLogPath, options.plotPath, std::cout);
    }
    return RunSimulation(options, std::cout).exitCode;
}
