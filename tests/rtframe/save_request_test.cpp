#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "robust_mutex.h"
#include "save_request.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
class Save_Request : public testing::Test {
protected:
    void SetUp() override
    {
        std::memset(static_cast<void*>(&info), 0, sizeof(info));
        init_pthread_mutex_ex(&info.mutex, false, true, true);
        outputs.assign(4, Shared_Application_Data_Struct{});
        for (auto& record : outputs)
            std::memset(&record, 0, sizeof(record));
    }
    void TearDown() override { pthread_mutex_destroy(&info.mutex); }

    // A client's request: records marked, then the flag raised.
    void request(std::initializer_list<int> records)
    {
        for (int k : records)
            outputs[static_cast<std::size_t>(k)].has_to_save = 1;
        info.has_to_save = 1;
    }

    // The save as the descriptor manager does it: clears the marks it takes.
    int serve(uint32_t first_output, const std::function<void(int pass)>& during_pass = nullptr)
    {
        return serve_save_request_ex(&info, outputs.data(), static_cast<uint32_t>(outputs.size()), first_output, [&] {
            ++saves;
            for (uint32_t k = first_output; k < outputs.size(); ++k)
                if (outputs[k].has_to_save) {
                    saved.push_back(static_cast<int>(k));
                    outputs[k].has_to_save = 0;
                }
            if (during_pass)
                during_pass(saves);
        });
    }

    Shared_Info_Struct info;
    std::vector<Shared_Application_Data_Struct> outputs;
    int saves = 0;
    std::vector<int> saved;
};

TEST_F(Save_Request, WithoutRequestNothingIsSaved)
{
    outputs[1].has_to_save = 1;  // marked, but no request raised
    EXPECT_EQ(serve(0), 0);
    EXPECT_EQ(saves, 0);
}

TEST_F(Save_Request, OneRequestOnePassThenTheFlagIsLowered)
{
    request({1, 3});
    EXPECT_EQ(serve(0), 1);
    EXPECT_EQ(saved, (std::vector<int>{1, 3}));
    EXPECT_EQ(info.has_to_save, 0u);
}

TEST_F(Save_Request, ARecordMarkedDuringASaveIsSavedInASecondPass)
{
    request({0});
    const int passes = serve(0, [&](int pass) {
        if (pass == 1) {
            Robust_Mutex guard_mutex(&info.mutex, "info", "client");
            std::lock_guard<Robust_Mutex> guard(guard_mutex);  // as a client marks it
            outputs[2].has_to_save = 1;
        }
    });
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(saved, (std::vector<int>{0, 2}));
    EXPECT_EQ(info.has_to_save, 0u);
}

TEST_F(Save_Request, MarksBeforeTheFirstSavedOutputNeverHoldTheRequest)
{
    request({0, 1, 3});  // 0 and 1 lead the outputs in master-offline mode: never saved
    EXPECT_EQ(serve(2), 1);
    EXPECT_EQ(saved, (std::vector<int>{3}));
    EXPECT_EQ(info.has_to_save, 0u);
}

TEST_F(Save_Request, AFailedSaveLeavesTheRequestRaised)
{
    request({1});
    EXPECT_THROW(serve_save_request_ex(&info, outputs.data(), 4, 0, [] { throw std::runtime_error("disk full"); }),
                 std::runtime_error);
    EXPECT_EQ(info.has_to_save, 1u);
    EXPECT_EQ(pthread_mutex_trylock(&info.mutex), 0) << "the info mutex is not left locked";
    pthread_mutex_unlock(&info.mutex);
}
}  // namespace
