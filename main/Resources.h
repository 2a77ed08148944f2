#pragma once
#include <string>

// The text resources compiled into the binary (resources/).
namespace Resources {
std::string bridge_js();
std::string offline_html();
std::string apply_update_sh();
std::string relay_js();
}
