// SPDX-License-Identifier: GPL-2.0
// The board's GPIO lines for the virtual board: one chip at base 0 whose
// outputs keep the level last written, so that the kernel's own gpiolib-sysfs
// serves /sys/class/gpio. Debian's kernel has neither gpio-mockup nor
// gpio-sim. Every value write reaches .set, a write of the level a line
// already has too, so the per-line count in the module parameter "writes"
// tells a beep (one write of 1) from no write at all.
#include <linux/bitmap.h>
#include <linux/gpio/driver.h>
#include <linux/module.h>
#include <linux/spinlock.h>

#define BOARDGPIO_LINES 160

static DECLARE_BITMAP(levels, BOARDGPIO_LINES);
static DECLARE_BITMAP(outputs, BOARDGPIO_LINES);
static unsigned int writes[BOARDGPIO_LINES];
static unsigned int writes_count = BOARDGPIO_LINES;
static DEFINE_SPINLOCK(lock);
module_param_array(writes, uint, &writes_count, 0444);
MODULE_PARM_DESC(writes, "value writes per line since the module was loaded");

static int boardgpio_get(struct gpio_chip *chip, unsigned int offset)
{
	return test_bit(offset, levels);
}

static void boardgpio_set(struct gpio_chip *chip, unsigned int offset, int value)
{
	unsigned long flags;

	spin_lock_irqsave(&lock, flags);
	assign_bit(offset, levels, value);
	writes[offset]++;
	spin_unlock_irqrestore(&lock, flags);
}

static int boardgpio_get_direction(struct gpio_chip *chip, unsigned int offset)
{
	return test_bit(offset, outputs) ? GPIO_LINE_DIRECTION_OUT : GPIO_LINE_DIRECTION_IN;
}

static int boardgpio_direction_input(struct gpio_chip *chip, unsigned int offset)
{
	clear_bit(offset, outputs);
	return 0;
}

// "out" through sysfs drives the line low without a call of .set: only
// value writes are counted.
static int boardgpio_direction_output(struct gpio_chip *chip, unsigned int offset, int value)
{
	assign_bit(offset, levels, value);
	set_bit(offset, outputs);
	return 0;
}

static struct gpio_chip boardgpio_chip = {
	.label = "boardgpio",
	.owner = THIS_MODULE,
	.base = 0,
	.ngpio = BOARDGPIO_LINES,
	.get = boardgpio_get,
	.set = boardgpio_set,
	.get_direction = boardgpio_get_direction,
	.direction_input = boardgpio_direction_input,
	.direction_output = boardgpio_direction_output,
};

static int __init boardgpio_init(void)
{
	return gpiochip_add_data(&boardgpio_chip, NULL);
}

static void __exit boardgpio_exit(void)
{
	gpiochip_remove(&boardgpio_chip);
}

module_init(boardgpio_init);
module_exit(boardgpio_exit);
MODULE_DESCRIPTION("GPIO lines of the virtual board");
MODULE_LICENSE("GPL");
