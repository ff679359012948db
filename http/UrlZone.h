// The security zone Windows puts a URL in, as its own HTTP stacks ask before they answer a server's
// Negotiate or NTLM challenge with the logged-on user's credentials.
#pragma once

#include <string>

namespace memoline {

// True when the system puts `url` in the Local Intranet zone. False for every other zone, and when
// the question cannot be asked (no urlmon): the credentials then stay home.
bool IsLocalIntranetUrl(const std::wstring& url);

}  // namespace memoline
