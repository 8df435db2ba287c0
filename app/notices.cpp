#include "app/notices.h"

bool open_notice_queue(notice_queue* queue) {
    std::lock_guard<std::mutex> hold(queue->lock);
    queue->first = 0;
    queue->count = 0;
    queue->event = os_create_event();
    return queue->event != os_null_handle;
}

void close_notice_queue(notice_queue* queue) {
    std::lock_guard<std::mutex> hold(queue->lock);
    if (queue->event != os_null_handle) os_close_handle(queue->event);
    queue->event = os_null_handle;
    queue->count = 0;
}

// The event is set and reset under the lock: a notice posted while the loop
// takes the others is never left behind an event that was reset.
bool post_notice(notice_queue* queue, loop_notice notice) {
    std::lock_guard<std::mutex> hold(queue->lock);
    if (queue->event == os_null_handle || queue->count == notice_queue_size) return false;
    queue->waiting[(queue->first + queue->count) % notice_queue_size] = notice;
    ++queue->count;
    os_set_event(queue->event);
    return true;
}

int take_notices(notice_queue* queue, loop_notice* taken, int cap) {
    std::lock_guard<std::mutex> hold(queue->lock);
    int count = 0;
    while (count < cap && queue->count > 0) {
        taken[count++] = queue->waiting[queue->first];
        queue->first = (queue->first + 1) % notice_queue_size;
        --queue->count;
    }
    if (queue->count == 0 && queue->event != os_null_handle) os_reset_event(queue->event);
    return count;
}
