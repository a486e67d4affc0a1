#include "lane/pauserate.h"

bool PauseRate::allow() {
    if (!m_window.isValid() || m_window.elapsed() >= kWindowMs) {
        m_window.start();
        m_count = 0;
    }
    return ++m_count <= kMost;
}
