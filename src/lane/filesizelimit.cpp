#include "lane/filesizelimit.h"

#include <csignal>

void failWritesPastTheFileSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}
