// Puts the process back into English after a test that changed the language.
#pragma once

#include "core/LanguageState.h"

#include <gtest/gtest.h>

namespace PdTest
{

class EnglishAfterwards : public ::testing::Test
{
protected:
    void TearDown() override { Pd::Core::LanguageState::Instance().Replace(L"en", false, {}); }

    static void Translate(Pd::Core::TextMap texts, const wchar_t* code = L"xx")
    {
        Pd::Core::LanguageState::Instance().Replace(code, false, std::move(texts));
    }
};

} // namespace PdTest
