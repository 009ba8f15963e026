// The listing formatted on two threads and written in order.
#include "cli/BlockWriter.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{
void Write(const std::string& text, std::FILE* out)
{
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), out);
}

// A block the helper formatted, handed over to the writing thread.
struct Slot
{
    std::string text;
    bool ready = false; // formatted and not yet written
    std::exception_ptr error;
};
} // namespace

void WriteInBlocks(std::size_t count, std::size_t blockItems, const FormatItems& format,
                   std::FILE* out)
{
    if (count == 0)
        return;
    blockItems = std::max<std::size_t>(blockItems, 1);
    const std::size_t blocks = count / blockItems + (count % blockItems != 0 ? 1 : 0);
    auto formatBlock = [&](std::string& text, std::size_t block)
    {
        text.clear();
        format(text, block * blockItems, std::min(count, (block + 1) * blockItems));
    };
    std::string own;
    auto alone = [&](std::size_t from)
    {
        for (std::size_t block = from; block < blocks; ++block)
        {
            formatBlock(own, block);
            Write(own, out);
        }
    };
    if (blocks < 2)
    {
        alone(0);
        return;
    }

    // Two slots: the helper formats one block ahead while the last one it handed over is
    // written. The k-th odd block goes through slots[k % 2].
    std::array<Slot, 2> slots;
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    auto helper = [&]
    {
        for (std::size_t block = 1, k = 0; block < blocks; block += 2, ++k)
        {
            Slot& slot = slots[k % 2];
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || !slot.ready; });
                if (stop)
                    return;
            }
            std::exception_ptr error;
            try
            {
                formatBlock(slot.text, block);
            }
            catch (...)
            {
                error = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                slot.error = error;
                slot.ready = true;
            }
            changed.notify_all();
            if (error)
                return;
        }
    };
    std::thread worker;
    try
    {
        worker = std::thread(helper);
    }
    catch (const std::system_error&)
    {
        alone(0);
        return;
    }
    // Stops and joins the helper however this thread leaves.
    struct Joiner
    {
        std::thread& worker;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~Joiner()
        {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            worker.join();
        }
    } joiner{worker, mutex, changed, stop};

    for (std::size_t block = 0, k = 0; block < blocks; block += 2, ++k)
    {
        formatBlock(own, block);
        Write(own, out);
        if (block + 1 >= blocks)
            break;
        Slot& slot = slots[k % 2];
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return slot.ready; });
            if (slot.error)
                std::rethrow_exception(slot.error);
        }
        // The helper leaves a ready slot alone until it is handed back.
        Write(slot.text, out);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            slot.ready = false;
        }
        changed.notify_all();
    }
}
