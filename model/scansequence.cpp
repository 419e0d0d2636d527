#include "scansequence.h"

#include <string>

namespace veltrona {

int32_t initialiseForBinding(KovaLibrary &library, const KOVA_CONFIG &config,
                             std::string_view binding) {
    if (binding.empty() || binding == "ANY")
        return library.initialise(&config);
    const std::string address(binding);
    return library.initialiseEx(&config, address.c_str());
}

int DiscoverySequence::next() {
    switch (m_step++) {
    case 0:
        m_library->setProtocolType(4);
        m_first = m_library->sendDiscovery();
        return kGapMs;
    case 1:
        m_library->setProtocolType(2);
        m_second = m_library->sendDiscovery();
        return kGapMs;
    case 2:
        m_library->setProtocolType(1);
        return -1;
    default:
        m_step = 3;
        return -1;
    }
}

} // namespace veltrona
