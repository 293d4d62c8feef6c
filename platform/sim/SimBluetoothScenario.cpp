#include "platform/sim/SimBluetoothScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

Pd::Result<> ReadBluetooth(const Json::Value& bluetooth, ScenarioBluetooth& target)
{
    Pd::Result<> read;
    if (!(read = ReadLeDevices(bluetooth, target.devices)) ||
        !(read = ReadBluetoothAddress(bluetooth, L"adapter", target.adapter)) ||
        !(read = ReadAdvertisers(bluetooth, target.advertisers)))
        return read;
    return {};
}

} // namespace Pd::Platform::Sim
