// The product home page: linked from the remote's login page, opened by the About box.
#pragma once

inline constexpr char16_t HomePageUrl[] = u"https://kelpa.example/";
