// The proxy's credentials are asked once per run and again only when the proxy refused them.
#include "app/ProxySignIn.h"

#include <gtest/gtest.h>

#include <vector>

namespace memoline {
namespace {

// The operator's answers, in order; an empty user name stands for Cancel.
class ScriptedSignIn : public TProxySignIn {
public:
    std::vector<std::wstring> answers;
    std::vector<std::wstring> askedFor;

protected:
    bool Ask(const std::wstring& proxy, std::wstring& userName, std::wstring& password) override {
        askedFor.push_back(proxy);
        const std::wstring answer = askedFor.size() <= answers.size() ? answers[askedFor.size() - 1] : L"";
        if (answer.empty())
            return false;
        userName = answer;
        password = answer + L"-pw";
        return true;
    }
};

TEST(ProxySignIn, AsksOnceKeepsTheAnswerAndAsksAgainOnlyWhenRefused) {
    ScriptedSignIn signIn;
    signIn.answers = {L"first", L"", L"second"};
    std::wstring user, password;
    ASSERT_TRUE(signIn.Credentials(L"proxy.site", false, user, password));
    EXPECT_EQ(user, L"first");
    EXPECT_EQ(password, L"first-pw");
    // The download after the check: the kept answer, nobody asked.
    user.clear();
    ASSERT_TRUE(signIn.Credentials(L"proxy.site", false, user, password));
    EXPECT_EQ(user, L"first");
    EXPECT_EQ(signIn.askedFor.size(), 1u);
    // Refused: asked again; Cancel keeps what was kept.
    EXPECT_FALSE(signIn.Credentials(L"proxy.site", true, user, password));
    ASSERT_TRUE(signIn.Credentials(L"proxy.site", false, user, password));
    EXPECT_EQ(user, L"first");
    ASSERT_TRUE(signIn.Credentials(L"proxy.site", true, user, password));
    EXPECT_EQ(user, L"second");
    EXPECT_EQ(password, L"second-pw");
    EXPECT_EQ(signIn.askedFor, (std::vector<std::wstring>{L"proxy.site", L"proxy.site", L"proxy.site"}));
}

TEST(ProxySignIn, CancelAtTheFirstAskGivesNothing) {
    ScriptedSignIn signIn;
    std::wstring user = L"untouched", password = L"untouched";
    EXPECT_FALSE(signIn.Credentials(L"p", false, user, password));
    EXPECT_EQ(user, L"untouched");
    EXPECT_FALSE(signIn.Credentials(L"p", false, user, password));
    EXPECT_EQ(signIn.askedFor.size(), 2u);  // nothing kept, so asked again
}

}  // namespace
}  // namespace memoline
